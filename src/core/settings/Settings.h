#pragma once
// The per-user settings store: text values addressed by application name, section and key.
// Numbers are stored as decimal text and read back by their leading numeric part.

#include <QString>
#include <QVariant>

#include <optional>

namespace korvel {

// The stored text, or the default as text when the key (or its section) does not exist.
QString GetSetting(const QString &appName, const QString &section, const QString &key, const QVariant &defaultValue);
// Stores the text, creating section and key as needed; an existing value is replaced.
void SaveSetting(const QString &appName, const QString &section, const QString &key, const QString &value);
// Removes one key; only the simulator uses it, to take back the port it registered.
void DeleteSetting(const QString &appName, const QString &section, const QString &key);

// The leading numeric part of a stored text as a number (empty or non-numeric reads 0).
double SettingValue(const QString &text);
// That number rounded to an integer, halves to the even neighbour; beyond the integer range it
// stays there (2147483646 or its negative), naming no port or speed.
int SettingNumber(const QString &text);

// The serial line, as the Configuration window sets it: the port chosen (its option, 0 to 5, kept as
// "COMMPORT"), which is port "Com n" with n the option plus 1; the speed chosen (its option, kept as
// "COMMSPEED"; a hand-edited number passes through as it stands).
int CommPortChoice();
int CommPort();
void SetCommPortChoice(int choice);
double CommSpeedChoice();
void SetCommSpeedChoice(int choice);

// The editor the flash window opens a program in; notepad.exe until one is chosen.
QString Editor();
void SetEditor(const QString &path);

// The program file the flash window burns; "*.S19" (no file yet) until one is chosen.
QString LastFlashProgram();
void SetLastFlashProgram(const QString &path);

// A device registered for port "Com n" (the simulator registers its pseudo-terminal); empty: none.
QString RegisteredPort(int n);
void SetRegisteredPort(int n, const QString &device);
void ForgetRegisteredPort(int n);

// "This PC's aircraft": the registration a completed capture's flight gets in the flight library;
// none by default. Stored as given; read back checked (an empty or unusable text is none).
std::optional<QString> ThisPcsAircraft();
void SetThisPcsAircraft(const std::optional<QString> &registration);

// The flight library the window opens: a folder, or a server's URI kept without its password (the
// password comes from ~/.pgpass, the service file or PGPASSWORD). None stored: the default folder.
QString LibraryLocation();
void SetLibraryLocation(const QString &location);

// The library window's own: the folder its import dialog last opened, and the aircraft last given to
// an import (as stored; the window checks it).
QString LibraryDialogFolder();
void SetLibraryDialogFolder(const QString &folder);
QString LastImportAircraft();
void SetLastImportAircraft(const QString &registration);

} // namespace korvel
