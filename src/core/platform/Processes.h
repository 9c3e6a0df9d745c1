#pragma once
// What this process asks the system about itself and others, one call per need; Posix.cpp and
// Windows.cpp hold the two ways.

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace korvel::platform {

// Whether a process with that id runs now (one of another user's counts as running).
bool ProcessAlive(std::int64_t pid);

// The name the user logged in with; empty when the system does not say.
QString LoginName();

// This process's peak resident memory in KiB, as the system counts it; -1 where it does not.
long PeakMemoryKiB();

// Standard output and error carry bytes as written: no line-end translation (which Windows' C
// library does in text mode, turning a CSV's CR LF into CR CR LF).
void UseBinaryStandardStreams();

// The folder of the system's own fonts where a program drawing without a window system must be told
// it (Windows' Fonts folder); empty where the fonts are found without it.
QString SystemFontFolder();

// Whether a stream is a terminal (so a trail there can be shown as it goes).
bool IsTerminal(std::FILE *stream);

// Sleeps for a short time as exactly as the system can (the timer's slack lowered where it has one).
void SleepPrecisely(std::int64_t ns);

// A function of a library the process has already loaded (a driver's client library), by the
// library's base name and major version ("pq", 5); nothing is loaded here. Null when absent.
void *LoadedLibrarySymbol(const char *name, int version, const char *symbol);

// The names to try, in order, for OpenSSL's crypto library; empty where the system's own hashing
// is used instead.
QStringList CryptoLibraryNames();

// A block of at least bytes for a whole flight's bytes, on huge pages where the system has them.
void *AllocateLarge(std::size_t bytes);
void ReleaseLarge(void *block, std::size_t bytes) noexcept;

} // namespace korvel::platform
