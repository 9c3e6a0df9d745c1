// The S-record reader on a 10 MB S3 program file, next to binutils' objcopy converting the same
// file to a binary. Makes the file with objcopy from random bytes, then prints the best of a few
// runs of each:
//   BUILD/bench/bench_srec [RUNS]

#include "core/records/RecordReaders.h"
#include "core/ui/UiInterfaces.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace {

class CountingPrompter final : public korvel::Prompter {
public:
    korvel::MessageAnswer showMessage(const QString &, const QString &text, korvel::MessageIcon,
                                      korvel::MessageButtons) override
    {
        std::fprintf(stderr, "reader failed: %s\n", qPrintable(text));
        ++messages;
        return korvel::MessageAnswer::Ok;
    }
    int messages = 0;
};

bool runTool(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const QString objcopy = QStandardPaths::findExecutable(QStringLiteral("objcopy"));
    if (objcopy.isEmpty()) {
        std::fputs("objcopy (binutils) is not installed\n", stderr);
        return 1;
    }

    // 16 data bytes per S3 line of 48 characters: a third of the file's size in program bytes.
    constexpr qsizetype kProgramBytes = 10'000'000 / 3;
    QTemporaryDir dir;
    const QString bin = dir.filePath(QStringLiteral("prog.bin"));
    const QString s19 = dir.filePath(QStringLiteral("prog.s19"));
    const QString out = dir.filePath(QStringLiteral("out.bin"));
    {
        QByteArray program(kProgramBytes, Qt::Uninitialized);
        QRandomGenerator generator(20261206u);
        generator.fillRange(reinterpret_cast<quint32 *>(program.data()), program.size() / 4);
        QFile file(bin);
        if (!file.open(QIODevice::WriteOnly) || file.write(program) != program.size())
            return 1;
    }
    if (!runTool(objcopy, {"-I", "binary", "-O", "srec", "--srec-forceS3", "--change-addresses", "0x8000", bin, s19}))
        return 1;
    const double megabytes = double(QFileInfo(s19).size()) / 1e6;

    double readerBest = std::numeric_limits<double>::max();
    qsizetype lines = 0;
    for (int run = 0; run < runs; ++run) {
        CountingPrompter prompter;
        QElapsedTimer timer;
        timer.start();
        const QStringList records = korvel::ReadSRecordFile(s19, prompter);
        readerBest = std::min(readerBest, double(timer.nsecsElapsed()) / 1e9);
        if (prompter.messages)
            return 1;
        lines = records.size();
    }

    double objcopyBest = std::numeric_limits<double>::max();
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        if (!runTool(objcopy, {"-I", "srec", "-O", "binary", s19, out}))
            return 1;
        objcopyBest = std::min(objcopyBest, double(timer.nsecsElapsed()) / 1e9);
    }

    std::printf("S3 file: %.1f MB, %lld data records (best of %d runs)\n", megabytes, static_cast<long long>(lines),
                runs);
    std::printf("ReadSRecordFile:          %8.1f ms  %8.1f MB/s\n", readerBest * 1e3, megabytes / readerBest);
    std::printf("objcopy -I srec -O binary: %7.1f ms  %8.1f MB/s\n", objcopyBest * 1e3, megabytes / objcopyBest);
    std::printf("reader is %.2fx the speed of objcopy\n", objcopyBest / readerBest);
    return readerBest < objcopyBest ? 0 : 1;
}
