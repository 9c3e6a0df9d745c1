#pragma once
// The sub-commands of korvel-cli. Each returns the exit status: 0 success, 1 the operation
// failed, 2 bad usage.

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <string>

namespace korvel {
struct FlightData;
class FlightRecordBlock;
}

namespace korvel::cli {

class Trail;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// A command line split into options and operands. Flags stand alone; valued options take the
// next argument.
struct Arguments {
    QHash<QString, QString> options; // flag -> "" ; valued option -> its value
    QStringList operands;
    bool has(const QString &name) const { return options.contains(name); }
};

// nullopt (after a usage message on stderr) when an option is unknown or lacks its value.
std::optional<Arguments> ParseArguments(const QStringList &args, const QStringList &flags,
                                        const QStringList &valued);
// Writes "korvel-cli: TEXT" and the command's usage to stderr; returns kExitUsage.
int UsageError(const QString &text, const char *usage);

// --cht-limit N into limit (left empty without the option); false when N is no finite number.
bool ChtLimitOption(const Arguments &arguments, std::optional<double> &limit);

// --port P: a device path (anything with a "/", or starting with COM) as it is, a number 1..6 as
// "Com n". nullopt when P is neither.
std::optional<QString> PortFromOption(const QString &value);

// --max-seconds S in milliseconds for a timer: nullopt unless S is a positive number; a deadline
// longer than a timer holds (about 24 days, infinity included) is cut to that.
std::optional<int> DeadlineFromOption(const QString &value);

// The flight file read as it goes, for the commands that need no whole table (dump, summary, csv,
// findings): the "connection" panel's text on the trail, then onBlock with each block of records.
// The record count; nullopt after the reason on stderr when the file cannot be read to its end.
std::optional<qint64> StreamForCommand(const QString &fileName, Trail &trail,
                                       const std::function<void(const FlightRecordBlock &)> &onBlock);

// Writes out to stdout at once; false when it could not be written.
bool WriteOut(const std::string &out);

// Standard output for output that must end on a whole line even when the command fails half-way:
// text is added line by line and goes out in large pieces, each ending with a line. What was not
// flushed when it is destroyed is dropped: a command that fails writes no more.
class LineOutput {
public:
    LineOutput();
    LineOutput(const LineOutput &) = delete;
    LineOutput &operator=(const LineOutput &) = delete;
    // The buffer to append whole lines to; call lineDone after each line or group of lines.
    std::string &text() { return m_text; }
    void lineDone()
    {
        if (m_text.size() >= kPiece)
            flush();
    }
    // Writes what is held; false once a write to stdout has failed.
    bool flush();
    bool ok() const { return m_ok; }

private:
    static constexpr size_t kPiece = size_t(1) << 16;
    std::string m_text;
    bool m_ok = true;
};

int RunDump(const QStringList &args, Trail &trail);
int RunSRec(const QStringList &args, Trail &trail);
int RunBRec(const QStringList &args, Trail &trail);
int RunCapture(const QStringList &args, Trail &trail);
int RunFlash(const QStringList &args, Trail &trail);
int RunSummary(const QStringList &args, Trail &trail);
int RunCsv(const QStringList &args, Trail &trail);
int RunFindings(const QStringList &args, Trail &trail);
int RunLibrary(const QStringList &args, Trail &trail);
// report and report-card, drawn by their module; argv as main() has it.
int RunReportModule(int argc, char **argv);

} // namespace korvel::cli
