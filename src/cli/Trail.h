#pragma once
// korvel-cli's front end: what the windows would show becomes one line per event on stderr.
//   status: TEXT | step: TEXT | done: TEXT | progress: N | message: CAPTION: TEXT -> ANSWER

#include "core/ui/UiInterfaces.h"

#include <QString>

#include <cstdio>

namespace korvel::cli {

// TEXT as it is, trailing blanks kept, with backslash, CR and LF written \\, \r and \n.
QString EscapeTrailText(const QString &text);

class Trail final : public StatusLine, public Prompter, public ProgressView, public BurnView {
public:
    explicit Trail(std::FILE *out = stderr) : m_out(out) {}

    void setStatus(const QString &text) override;
    // OK-only boxes are answered OK at once; OK/Cancel asks: one line of stdin per prompt,
    // "ok" is OK, anything else or the end of input is Cancel.
    MessageAnswer showMessage(const QString &caption, const QString &text, MessageIcon icon,
                              MessageButtons buttons) override;
    void setProgress(int percent) override;
    void setStep(const QString &text) override;
    void setDone(const QString &text) override;
    void setIndicator(Indicator) override {}

    // Writes one trail line: "KIND: TEXT".
    void event(const char *kind, const QString &text);

private:
    std::FILE *m_out;
};

} // namespace korvel::cli
