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

// "This PC's aircraft": the registration a completed capture's flight gets in the flight library;
// none by default. Stored as given; read back checked (an empty or unusable text is none).
std::optional<QString> ThisPcsAircraft();
void SetThisPcsAircraft(const std::optional<QString> &registration);

// The flight library the window opens: a folder, or a server's URI kept without its password (the
// password comes from ~/.pgpass, the service file or PGPASSWORD). None stored: the default folder.
QString LibraryLocation();
void SetLibraryLocation(const QString &location);

} // namespace korvel
