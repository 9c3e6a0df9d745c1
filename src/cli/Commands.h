#pragma once
// The sub-commands of korvel-cli. Each returns the exit status: 0 success, 1 the operation
// failed, 2 bad usage.

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace korvel {
struct FlightData;
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

// --port P: a device path (anything with a "/", or starting with COM) as it is, a number 1..6 as
// "Com n". nullopt when P is neither.
std::optional<QString> PortFromOption(const QString &value);

// --max-seconds S in milliseconds for a timer: nullopt unless S is a positive number; a deadline
// longer than a timer holds (about 24 days, infinity included) is cut to that.
std::optional<int> DeadlineFromOption(const QString &value);

// LoadFlightDataFile for a command: false after the reason on stderr.
bool LoadForCommand(const QString &fileName, FlightData &data, Trail &trail);

int RunDump(const QStringList &args, Trail &trail);
int RunSRec(const QStringList &args, Trail &trail);
int RunBRec(const QStringList &args, Trail &trail);
int RunCapture(const QStringList &args, Trail &trail);
int RunFlash(const QStringList &args, Trail &trail);
int RunSummary(const QStringList &args, Trail &trail);
int RunCsv(const QStringList &args, Trail &trail);
int RunFindings(const QStringList &args, Trail &trail);
int RunLibrary(const QStringList &args, Trail &trail);

} // namespace korvel::cli
