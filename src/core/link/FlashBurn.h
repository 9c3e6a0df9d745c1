#pragma once
// The burn: a fresh link to the bootstrap loader, the register file, the program, the execute
// record for 8000, and the wait while the instrument burns its flash. The firmware window's
// "&Burn Program" and korvel-cli flash both run it.

#include "core/link/TargetLink.h"
#include "core/ui/UiInterfaces.h"

#include <QObject>
#include <QString>

#include <optional>

namespace korvel {

class FlashBurn : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Finished,       // "Finished", green
        WindowClosed,   // the window closed while connecting: nothing shown
        ConnectFailed,  // "Could Not Connect"
        RegisterFailed, // "Could not load B-Record file"
        ProgramFailed,  // "Uploading of Program to Flash Failed"
        Stopped,        // ended with "Error" otherwise: window closed, or the line lost or the start record's echo
                        // missing after the start record left (the instrument may still be burning)
        Declined,       // the user chose not to send a program whose checksums are wrong
        AlreadyRunning, // a burn is running: nothing done
    };

    FlashBurn(TargetLink &link, BurnView &view, Prompter &prompter, ProgressView &progress, QObject *parent = nullptr);

    // The register file: "init.B" in the program's folder unless set.
    void setRegisterFile(const QString &fileName) { m_registerFile = fileName; }
    // The program file: the "LastFlashSProg" setting unless set.
    void setProgramFile(const QString &fileName) { m_programFile = fileName; }

    // The whole burn, from closing the old link to "Finished" or a failure. Returns when it ends.
    Outcome run();
    bool running() const { return m_running; }

    // The register file as the burn sends it, and the program file it reads.
    QString registerFile() const;
    QString programFile() const;

    // The first S-record data line whose checksum is wrong (1-based line number), or 0. Files that
    // cannot be read give 0: the reader reports those when the burn reaches them.
    static qint64 FirstBadChecksumLine(const QString &fileName);

signals:
    void runningChanged(bool running);

private:
    Outcome burn();

    TargetLink &m_link;
    BurnView &m_view;
    Prompter &m_prompter;
    ProgressView &m_progress;
    std::optional<QString> m_registerFile;
    std::optional<QString> m_programFile;
    bool m_running = false;
};

} // namespace korvel
