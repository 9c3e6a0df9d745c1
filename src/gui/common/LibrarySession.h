#pragma once
// A flight library as a window uses it: every call runs on a thread of the library's own, where its
// connection lives, while the window goes on answering (its menus open, it repaints, Cancel
// works). The window's command reads as before, one call after another: the call waits for the
// answer in a local event loop. A call that takes longer than a moment says whom it waits for; one
// that takes longer than the time-out is given up, as a server that went away is, and the next
// call starts on a new thread and connection.
//
// A call's job is moved to the library's thread and hands its result back by value: nothing it
// touches lies on the window's stack, so a call given up may still end later harmlessly.

#include "core/library/FlightLibrary.h"

#include <QObject>
#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace korvel {

class LibrarySession : public QObject {
    Q_OBJECT
public:
    struct Limits {
        int noticeMs = 2000;  // then the window says whom it waits for
        int giveUpMs = 15000; // then the call is given up (beyond the connect time-out of 10 s)
    };
    // The limits every session uses (a test shortens them).
    static Limits &limits();

    explicit LibrarySession(QString location, QObject *parent = nullptr);
    ~LibrarySession() override;

    QString location() const { return m_location; }
    // Another library: the connection to the one before is let go.
    void setLocation(const QString &location);

    // How the library opened: whether it is open, whether it may only be read here, and why not.
    struct Opened {
        bool open = false;
        bool readOnly = false;
        QString why;
    };
    // Opens the library (making it where there is none), or for reading only where it may not be
    // changed here.
    Opened open();
    bool isOpen() const { return m_open; }
    // Lets the connection go: the next call opens a new one (a server's that failed does not come
    // back by itself).
    void drop();

    // Runs job(library) on the library's thread and returns what it returns; throws LibraryError
    // as the job did, or when the library cannot be opened or does not answer in time.
    template <class F> auto call(F job) -> decltype(job(std::declval<FlightLibrary &>()))
    {
        using R = decltype(job(std::declval<FlightLibrary &>()));
        if constexpr (std::is_void_v<R>) {
            runJob([job = std::move(job)](FlightLibrary &library) mutable { job(library); });
        } else {
            auto result = std::make_shared<std::optional<R>>();
            runJob([job = std::move(job), result](FlightLibrary &library) mutable { *result = job(library); });
            return std::move(**result);
        }
    }

    // Runs job(library) on the library's thread without waiting for it, for work the window need
    // not wait on (a capture's filing): done(error) follows on the window's thread once the job has
    // ended (error empty), failed, or been given up; never once the session has gone. The library
    // is opened there first when it is not (made where there is none). The same notice and
    // time-out hold as for a call.
    void post(std::function<void(FlightLibrary &)> job, std::function<void(std::exception_ptr)> done);

    // What the window says while it waits: "the flight library server HOST:PORT" or "the flight
    // library in FOLDER".
    static QString WaitedFor(const QString &location);

signals:
    // A call has waited longer than a moment (text: what the window says), or its answer came
    // (text empty).
    void waiting(const QString &text);

private:
    struct Thread;
    void runJob(std::function<void(FlightLibrary &)> job);
    void runOnThread(const std::function<void(std::unique_ptr<FlightLibrary> &)> &job);
    std::shared_ptr<Thread> thread();
    LibraryError givenUp(const QString &waitedFor) const;
    void letThreadGo();

    QString m_location;
    std::shared_ptr<Thread> m_thread;
    bool m_open = false;
    int m_calls = 0; // calls waiting, nested ones included
};

} // namespace korvel
