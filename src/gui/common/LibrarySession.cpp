#include "gui/common/LibrarySession.h"

#include "core/library/LibraryPlace.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QList>
#include <QMutex>
#include <QPointer>
#include <QThread>
#include <QTimer>

namespace korvel {

// The library's thread and the library open on it. The jobs hold it too: a thread given up on
// lives until its last job has ended, and the library is closed on it.
struct LibrarySession::Thread {
    QThread *thread = nullptr;
    QObject *home = nullptr; // lives on the thread: the jobs are queued to it
    std::unique_ptr<FlightLibrary> library;
};

namespace {

// One call as both threads see it; its fields other than the library's own are touched on the
// window's thread only.
struct Call {
    QEventLoop *loop = nullptr;
    bool done = false;
    std::exception_ptr error;
};

// The threads let go and not yet ended. When the program ends they are given a moment to close
// their libraries: a thread cut off by the program's end in the middle of its work can leave the
// run-time's locks held, and the program's exit then waits on them for ever (seen on Windows).
struct EndingThreads {
    QMutex mutex;
    QList<QThread *> threads;
};

EndingThreads &Ending()
{
    // Never destroyed: threads still end while the program is ending.
    static auto *ending = new EndingThreads;
    return *ending;
}

void WaitForEndingThreads()
{
    QDeadlineTimer deadline(3000);
    for (;;) {
        QThread *thread = nullptr;
        {
            const QMutexLocker lock(&Ending().mutex);
            if (Ending().threads.isEmpty())
                return;
            thread = Ending().threads.constFirst();
        }
        // One held by a server that stopped answering is left behind when the time is up.
        if (!thread->wait(deadline))
            return;
        const QMutexLocker lock(&Ending().mutex);
        Ending().threads.removeOne(thread);
    }
}

void WatchEnding(QThread *thread)
{
    static const bool once = [] {
        qAddPostRoutine(WaitForEndingThreads);
        return true;
    }();
    Q_UNUSED(once);
    {
        const QMutexLocker lock(&Ending().mutex);
        Ending().threads.append(thread);
    }
    // Said from the thread itself as it ends, before anything can delete it.
    QObject::connect(
        thread, &QThread::finished, thread,
        [thread] {
            const QMutexLocker lock(&Ending().mutex);
            Ending().threads.removeOne(thread);
        },
        Qt::DirectConnection);
}

} // namespace

LibrarySession::Limits &LibrarySession::limits()
{
    static Limits limits;
    return limits;
}

LibrarySession::LibrarySession(QString location, QObject *parent) : QObject(parent), m_location(std::move(location)) {}

LibrarySession::~LibrarySession()
{
    letThreadGo();
}

void LibrarySession::setLocation(const QString &location)
{
    letThreadGo();
    m_location = location;
}

QString LibrarySession::WaitedFor(const QString &location)
{
    if (const LibraryPlace place(location); place.isServer()) {
        if (place.parses())
            return QStringLiteral("the flight library server %1").arg(place.server());
        return QStringLiteral("the flight library server");
    }
    return QStringLiteral("the flight library in %1").arg(QDir::toNativeSeparators(location));
}

void LibrarySession::letThreadGo()
{
    m_open = false;
    if (!m_thread)
        return;
    std::shared_ptr<Thread> gone = std::move(m_thread);
    // The library is closed on its own thread once the job in hand (if any) has ended; the thread
    // then ends and goes. A thread held by a server that stopped answering is never waited for.
    QMetaObject::invokeMethod(gone->home, [gone] { gone->library.reset(); });
    QObject::connect(gone->thread, &QThread::finished, gone->home, &QObject::deleteLater);
    QObject::connect(gone->thread, &QThread::finished, gone->thread, &QObject::deleteLater);
    WatchEnding(gone->thread);
    gone->thread->quit();
}

void LibrarySession::drop()
{
    // Under a call in hand, its thread goes once that call has ended.
    letThreadGo();
}

std::shared_ptr<LibrarySession::Thread> LibrarySession::thread()
{
    if (!m_thread) {
        m_thread = std::make_shared<Thread>();
        m_thread->thread = new QThread;
        m_thread->thread->setObjectName(QStringLiteral("flight library"));
        m_thread->home = new QObject;
        m_thread->home->moveToThread(m_thread->thread);
        m_thread->thread->start();
    }
    return m_thread;
}

LibraryError LibrarySession::givenUp(const QString &waitedFor) const
{
    const int seconds = (limits().giveUpMs + 999) / 1000;
    return LibraryError(waitedFor.startsWith(QLatin1String("the flight library server"))
                            ? QStringLiteral("%1 went away: it did not answer for %2 s").arg(waitedFor).arg(seconds)
                            : QStringLiteral("%1 did not answer for %2 s").arg(waitedFor).arg(seconds));
}

void LibrarySession::runOnThread(const std::function<void(std::unique_ptr<FlightLibrary> &)> &job)
{
    const std::shared_ptr<Thread> thread = this->thread();
    const auto call = std::make_shared<Call>();
    QMetaObject::invokeMethod(thread->home, [thread, call, job] {
        std::exception_ptr error;
        try {
            job(thread->library);
        } catch (...) {
            error = std::current_exception();
        }
        // The answer goes back to the window's thread.
        QMetaObject::invokeMethod(QCoreApplication::instance(), [call, error] {
            call->done = true;
            call->error = error;
            if (call->loop)
                call->loop->quit();
        });
    });

    QEventLoop loop;
    call->loop = &loop;
    QTimer notice, giveUp;
    notice.setSingleShot(true);
    giveUp.setSingleShot(true);
    const QString waitedFor = WaitedFor(m_location);
    QObject::connect(&notice, &QTimer::timeout, this,
                     [this, waitedFor] { emit waiting(QStringLiteral("Still waiting for %1.").arg(waitedFor)); });
    QObject::connect(&giveUp, &QTimer::timeout, &loop, &QEventLoop::quit);
    notice.start(limits().noticeMs);
    giveUp.start(limits().giveUpMs);
    ++m_calls;
    // Only what lives on this stack is touched once the loop has ended: the session itself may
    // have gone with its window meanwhile.
    QPointer<LibrarySession> alive(this);
    if (!call->done)
        loop.exec(QEventLoop::AllEvents);
    call->loop = nullptr;
    if (alive) {
        --m_calls;
        emit waiting(QString());
    }
    if (call->error)
        std::rethrow_exception(call->error);
    if (!call->done) {
        // Given up: that thread and its connection are left to end by themselves.
        if (alive && m_thread == thread)
            letThreadGo();
        throw givenUp(waitedFor);
    }
}

LibrarySession::Opened LibrarySession::open()
{
    const QString location = m_location;
    auto opened = std::make_shared<Opened>();
    runOnThread([location, opened](std::unique_ptr<FlightLibrary> &library) {
        library.reset();
        try {
            library = std::make_unique<FlightLibrary>(location);
        } catch (const LibraryError &error) {
            opened->why = error.message();
        } catch (const std::exception &error) {
            opened->why = QString::fromLocal8Bit(error.what());
        }
        // A library this user may only read is still listed, trended and exported.
        if (!library && FlightLibrary::Exists(location)) {
            try {
                library = std::make_unique<FlightLibrary>(location, FlightLibrary::Opening::Existing);
            } catch (const std::exception &) {
                library.reset();
            }
        }
        opened->open = bool(library);
        opened->readOnly = library && library->readOnly();
    });
    m_open = opened->open;
    return *opened;
}

void LibrarySession::runJob(std::function<void(FlightLibrary &)> job)
{
    if (!m_open && !open().open)
        throw LibraryError(QStringLiteral("it cannot be opened"));
    runOnThread([job = std::move(job)](std::unique_ptr<FlightLibrary> &library) {
        if (!library)
            throw LibraryError(QStringLiteral("it is not open"));
        job(*library);
    });
}

void LibrarySession::post(std::function<void(FlightLibrary &)> job, std::function<void(std::exception_ptr)> done)
{
    const std::shared_ptr<Thread> thread = this->thread();
    const QString location = m_location;
    const QString waitedFor = WaitedFor(location);
    // The timers are the session's: with it, they and the answer's way back go.
    QPointer<QTimer> notice = new QTimer(this), giveUp = new QTimer(this);
    notice->setSingleShot(true);
    giveUp->setSingleShot(true);
    QPointer<LibrarySession> alive(this);
    // Said once: by the answer, or by the time-out, whichever comes first.
    auto answered = std::make_shared<bool>(false);
    auto answer = std::make_shared<std::function<void(std::exception_ptr)>>(
        [alive, answered, notice, giveUp, done = std::move(done)](std::exception_ptr error) {
            if (*answered || !alive)
                return;
            *answered = true;
            for (QTimer *timer : {notice.data(), giveUp.data()})
                if (timer) {
                    timer->stop();
                    timer->deleteLater();
                }
            emit alive->waiting(QString());
            done(error);
        });
    connect(notice, &QTimer::timeout, this,
            [this, waitedFor] { emit waiting(QStringLiteral("Still waiting for %1.").arg(waitedFor)); });
    connect(giveUp, &QTimer::timeout, this, [this, thread, waitedFor, answer] {
        // That thread and its connection are left to end by themselves.
        if (m_thread == thread)
            letThreadGo();
        (*answer)(std::make_exception_ptr(givenUp(waitedFor)));
    });
    notice->start(limits().noticeMs);
    giveUp->start(limits().giveUpMs);
    QMetaObject::invokeMethod(thread->home, [thread, location, job = std::move(job), answer] {
        std::exception_ptr error;
        try {
            if (!thread->library)
                thread->library = std::make_unique<FlightLibrary>(location);
            job(*thread->library);
        } catch (...) {
            error = std::current_exception();
        }
        QMetaObject::invokeMethod(QCoreApplication::instance(), [answer, error] { (*answer)(error); });
    });
}

} // namespace korvel
