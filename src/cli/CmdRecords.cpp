// korvel-cli srec and brec: the record readers' lines on stdout, their message boxes on the trail.

#include "cli/Commands.h"
#include "cli/Trail.h"
#include "core/records/RecordReaders.h"

#include <QByteArray>

#include <cstdio>

namespace korvel::cli {

namespace {

const char *const kSRecUsage = "usage: korvel-cli srec FILE\n";
const char *const kBRecUsage = "usage: korvel-cli brec [--trim] FILE\n";

// Each line LF-terminated, characters one for one as they came from the file.
int writeLines(const QStringList &lines)
{
    QByteArray out;
    qsizetype size = 0;
    for (const QString &line : lines)
        size += line.size() + 1;
    out.reserve(size);
    for (const QString &line : lines) {
        out += line.toLatin1();
        out += '\n';
    }
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

// The readers report a failure only through their message box; passing it on to the trail, this
// notes that one was shown.
class FailureWatch final : public Prompter {
public:
    explicit FailureWatch(Prompter &trail) : m_trail(trail) {}
    MessageAnswer showMessage(const QString &caption, const QString &text, MessageIcon icon,
                              MessageButtons buttons) override
    {
        failed = true;
        return m_trail.showMessage(caption, text, icon, buttons);
    }
    bool failed = false;

private:
    Prompter &m_trail;
};

} // namespace

int RunSRec(const QStringList &args, Trail &trail)
{
    const auto parsed = ParseArguments(args, {}, {});
    if (!parsed)
        return UsageError(QString(), kSRecUsage);
    if (parsed->operands.size() != 1)
        return UsageError(QStringLiteral("srec takes one FILE"), kSRecUsage);

    FailureWatch watch(trail);
    const QStringList lines = ReadSRecordFile(parsed->operands.front(), watch);
    if (watch.failed)
        return kExitFailed;
    return writeLines(lines);
}

int RunBRec(const QStringList &args, Trail &trail)
{
    const auto parsed = ParseArguments(args, {QStringLiteral("--trim")}, {});
    if (!parsed)
        return UsageError(QString(), kBRecUsage);
    if (parsed->operands.size() != 1)
        return UsageError(QStringLiteral("brec takes one FILE"), kBRecUsage);

    FailureWatch watch(trail);
    QStringList lines = ReadBRecordFile(parsed->operands.front(), watch);
    if (watch.failed)
        return kExitFailed;
    if (parsed->has(QStringLiteral("--trim")))
        TrimRecordLines(lines);
    return writeLines(lines);
}

} // namespace korvel::cli
