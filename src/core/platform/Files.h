#pragma once
// What the file system does differently on each system, behind one call per need: reading a file
// without waiting on a pipe, putting bytes and folder entries on the disk, walking a folder tree
// by raw names. Posix.cpp and Windows.cpp hold the two ways; nothing else in core asks the system.

#include <QString>
#include <QStringList>

#include <cstdint>

class QFile;

namespace korvel::platform {

// A file opened for reading only when it is a regular file: a pipe, a device or a folder is refused
// before anything is read (and opening a pipe does not wait for its writer).
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const QString &fileName);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile &) = delete;
    ReadOnlyFile &operator=(const ReadOnlyFile &) = delete;

    bool isOpen() const { return m_open; }
    // Why it is not open: not a regular file, or the system's reason.
    bool notRegular() const { return m_notRegular; }
    const QString &error() const { return m_error; }
    // The size when opened.
    std::uint64_t size() const { return m_size; }
    // One read on from where the last ended (at most bytes, 0 at the end), or at an offset without
    // moving that position; -1 when the read failed, with error() saying why.
    std::int64_t readSome(char *into, std::size_t bytes);
    std::int64_t readSomeAt(std::uint64_t offset, char *into, std::size_t bytes);

private:
    bool m_open = false;
    bool m_notRegular = false;
    QString m_error;
    std::uint64_t m_size = 0;
    int m_fd = -1;
    QFile *m_file = nullptr; // where there is no descriptor to read
};

// Why a path named for reading cannot be opened, in the system's words ("no such file" when it is
// not there); empty when it can (or when only opening it would tell).
QString OpenProblem(const QString &path);

// Puts a written file's bytes on the disk. False, with the reason, when the disk says it is full or
// failing; a file that cannot be synced (a terminal, a null device) is fine as it is.
bool SyncFileData(QFile &file, QString *reason);

// Puts the named files in a folder, and the folder's own entries (their renames), on the disk. The
// system's reason when that failed, else empty.
QString SyncFolder(const QString &folder, const QStringList &names);

// Every entry under a folder, by raw name: a folder that cannot be read is named itself, and so is a
// name that cannot be opened by its text. Links to folders are not followed.
void ListFolderTree(const QString &folder, QStringList &found);

// Whether new entries can be made and old ones deleted in a folder.
bool FolderWritable(const QString &folder);

} // namespace korvel::platform
