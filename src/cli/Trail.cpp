#include "cli/Trail.h"
#include "core/platform/Processes.h"

#include <QByteArray>

#include <cstring>
#include <string>


namespace korvel::cli {

QString EscapeTrailText(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else
            out += c;
    }
    return out;
}

void Trail::event(const char *kind, const QString &text)
{
    const QByteArray line = QByteArray(kind) + ": " + EscapeTrailText(text).toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), m_out);
    std::fflush(m_out);
}

void Trail::setStatus(const QString &text) { event("status", text); }
void Trail::setStep(const QString &text) { event("step", text); }
void Trail::setDone(const QString &text) { event("done", text); }
void Trail::setProgress(int percent) { event("progress", QString::number(percent)); }

MessageAnswer Trail::showMessage(const QString &caption, const QString &text, MessageIcon, MessageButtons buttons)
{
    MessageAnswer answer = MessageAnswer::Ok;
    if (buttons == MessageButtons::OkCancel) {
        const bool terminal = platform::IsTerminal(stdin);
        if (terminal) {
            const QByteArray question = EscapeTrailText(caption).toUtf8() + ": " + EscapeTrailText(text).toUtf8()
                                        + " [ok/cancel] ";
            std::fwrite(question.constData(), 1, size_t(question.size()), m_out);
            std::fflush(m_out);
        }
        std::string reply;
        int c;
        while ((c = std::fgetc(stdin)) != EOF && c != '\n')
            reply.push_back(char(c));
        const QString word = QString::fromLocal8Bit(reply.c_str()).trimmed();
        answer = (c == EOF && reply.empty()) || word.compare(QLatin1String("ok"), Qt::CaseInsensitive) != 0
                     ? MessageAnswer::Cancel
                     : MessageAnswer::Ok;
    }
    event("message", caption + QLatin1String(": ") + text + QLatin1String(" -> ")
                         + (answer == MessageAnswer::Ok ? QLatin1String("OK") : QLatin1String("Cancel")));
    return answer;
}

} // namespace korvel::cli
