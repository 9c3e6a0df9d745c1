#pragma once
// The simulated instrument over a pseudo-terminal, registered as "Com 1" (the program's default
// port) in a settings store of the test's own.

#include "core/settings/Settings.h"
#include "sim/SimEngine.h"
#include "support/TestSupport.h"

namespace korvel::test {

struct Instrument {
    IsolatedSettings settings;
    sim::SimEngine engine;
    Instrument()
    {
        if (!engine.open())
            qFatal("no pseudo-terminal");
        SaveSetting(AppTitle(), QStringLiteral("Ports"), QStringLiteral("COM1"), engine.slavePath());
    }
    // korvel-cli capture on this line with the further arguments; the record goes out once the
    // program has set the line up.
    CliRun captureWithCli(const QStringList &args, const sim::CaptureScript &script)
    {
        return RunCli(QStringList{QStringLiteral("capture"), QStringLiteral("--port"), engine.slavePath()} + args, {},
                      [&] {
                          Await([&] { return engine.lineBaud() == 19200; });
                          engine.sendCapture(script);
                      });
    }
    // Sends the record and keeps the event loop running until done() or the limit.
    bool play(const sim::CaptureScript &script, const std::function<bool()> &done)
    {
        engine.sendCapture(script);
        return Await(done);
    }
};

} // namespace korvel::test
