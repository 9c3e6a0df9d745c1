#pragma once
// What the fuzz targets share: a file in memory that the readers open by name like any file, a
// front end that counts what it is told, and a way to stop on a broken property.

#include "core/ui/UiInterfaces.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include <sys/mman.h>
#include <unistd.h>

namespace korvel::fuzz {

// A broken property is a finding: say which and abort, so libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                                     \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__);                \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

// A regular file that lives in memory; its name opens it anew, as a reader opens a file.
class MemoryFile {
public:
    MemoryFile() : m_fd(::memfd_create("korvel-fuzz", 0)) {}
    ~MemoryFile() { ::close(m_fd); }
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    void set(const uint8_t *data, size_t size)
    {
        if (::ftruncate(m_fd, 0) != 0 || (size && ::pwrite(m_fd, data, size, 0) != ssize_t(size)))
            std::abort();
    }
    QByteArray contents() const
    {
        QByteArray out(qsizetype(::lseek(m_fd, 0, SEEK_END)), '\0');
        if (!out.isEmpty() && ::pread(m_fd, out.data(), size_t(out.size()), 0) != ssize_t(out.size()))
            std::abort();
        return out;
    }
    QString name() const { return QStringLiteral("/proc/self/fd/%1").arg(m_fd); }

private:
    int m_fd;
};

// Counts what the core tells the user; OK/Cancel boxes are answered by a callback (Cancel unless set).
class CountingUi : public StatusLine, public Prompter, public ProgressView {
public:
    void setStatus(const QString &text) override
    {
        lastStatus = text;
        ++statuses;
    }
    MessageAnswer showMessage(const QString &, const QString &text, MessageIcon, MessageButtons buttons) override
    {
        ++messages;
        lastMessage = text;
        if (buttons == MessageButtons::OkCancel)
            return answerOkCancel ? answerOkCancel() : MessageAnswer::Cancel;
        return MessageAnswer::Ok;
    }
    void setProgress(int percent) override
    {
        FUZZ_CHECK(percent >= 0 && percent <= 100);
        lastProgress = percent;
    }

    std::function<MessageAnswer()> answerOkCancel;
    int statuses = 0;
    int messages = 0;
    int lastProgress = -1;
    QString lastStatus;
    QString lastMessage;
};

// The application object the event loops and the settings need, made once.
inline void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "korvel-fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *app = new QCoreApplication(argc, argv);
    (void)app;
}

} // namespace korvel::fuzz
