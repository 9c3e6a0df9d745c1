// Command-line words shared by korvel-cli and korvel-report: options and operands, usage
// errors, the CHT limit.

#include "cli/Commands.h"

#include <cmath>
#include <cstdio>

namespace korvel::cli {

std::optional<Arguments> ParseArguments(const QStringList &args, const QStringList &flags, const QStringList &valued)
{
    Arguments parsed;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (optionsEnded || !arg.startsWith(QLatin1String("--")) || arg == QLatin1String("-")) {
            parsed.operands.append(arg);
        } else if (arg == QLatin1String("--")) {
            optionsEnded = true;
        } else if (flags.contains(arg)) {
            parsed.options.insert(arg, QString());
        } else if (valued.contains(arg)) {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "korvel-cli: %s needs a value\n", qPrintable(arg));
                return std::nullopt;
            }
            parsed.options.insert(arg, args[++i]);
        } else {
            std::fprintf(stderr, "korvel-cli: unknown option %s\n", qPrintable(arg));
            return std::nullopt;
        }
    }
    return parsed;
}

int UsageError(const QString &text, const char *usage)
{
    if (!text.isEmpty())
        std::fprintf(stderr, "korvel-cli: %s\n", qPrintable(text));
    std::fputs(usage, stderr);
    return kExitUsage;
}

bool ChtLimitOption(const Arguments &arguments, std::optional<double> &limit)
{
    if (!arguments.has(QStringLiteral("--cht-limit")))
        return true;
    bool ok = false;
    const double value = arguments.options.value(QStringLiteral("--cht-limit")).toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return false;
    limit = value;
    return true;
}

} // namespace korvel::cli
