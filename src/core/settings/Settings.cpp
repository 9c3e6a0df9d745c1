#include "core/settings/Settings.h"

#include "core/library/FlightLibrary.h"
#include "core/ui/UiInterfaces.h"

#include <QSettings>

#include <algorithm>
#include <cmath>

namespace korvel {

namespace {

// On Linux the native format is an INI file under XDG_CONFIG_HOME; on Windows the registry;
// on macOS a property list.
QSettings openStore(const QString &appName)
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Korvel"), appName);
}

QString keyPath(const QString &section, const QString &key)
{
    return section + QLatin1Char('/') + key;
}

// The text as it stands in the store. The store's format may have made something else of a
// hand-edited value: a list of its comma-separated parts ("2, 3"), a number, bytes.
QString StoredText(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QStringList:
        return value.toStringList().join(QStringLiteral(", "));
    case QMetaType::QVariantList: {
        QStringList parts;
        for (const QVariant &part : value.toList())
            parts << StoredText(part);
        return parts.join(QStringLiteral(", "));
    }
    case QMetaType::QByteArray:
        return QString::fromUtf8(value.toByteArray());
    default:
        return value.toString();
    }
}

} // namespace

QString GetSetting(const QString &appName, const QString &section, const QString &key, const QVariant &defaultValue)
{
    QSettings store = openStore(appName);
    const QVariant value = store.value(keyPath(section, key));
    if (!value.isValid())
        return defaultValue.toString();
    return StoredText(value);
}

void SaveSetting(const QString &appName, const QString &section, const QString &key, const QString &value)
{
    QSettings store = openStore(appName);
    store.setValue(keyPath(section, key), value);
    store.sync();
}

void DeleteSetting(const QString &appName, const QString &section, const QString &key)
{
    QSettings store = openStore(appName);
    store.remove(keyPath(section, key));
    store.sync();
}

double SettingValue(const QString &text)
{
    // Leading blanks, a sign, digits with an optional fraction and exponent; the rest is ignored.
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    const qsizetype start = i;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        ++i;
    qsizetype digits = 0;
    while (i < n && text[i].isDigit() && text[i].unicode() < 128) {
        ++i;
        ++digits;
    }
    if (i < n && text[i] == QLatin1Char('.')) {
        ++i;
        while (i < n && text[i].isDigit() && text[i].unicode() < 128) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0.0;
    qsizetype end = i;
    if (i < n && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        qsizetype j = i + 1;
        if (j < n && (text[j] == QLatin1Char('+') || text[j] == QLatin1Char('-')))
            ++j;
        qsizetype expDigits = 0;
        while (j < n && text[j].isDigit() && text[j].unicode() < 128) {
            ++j;
            ++expDigits;
        }
        if (expDigits > 0)
            end = j;
    }
    bool ok = false;
    const double value = text.mid(start, end - start).toDouble(&ok);
    if (!ok)
        return std::isinf(value) ? value : 0.0; // beyond every range, but still a number
    return value;
}

int SettingNumber(const QString &text)
{
    // A number beyond the integer range stays beyond every index the readers know (it must not
    // read as 0, a valid choice); one step of room is kept so that "port = value + 1" holds.
    constexpr double kLimit = 2147483646.0;
    const double value = std::nearbyint(SettingValue(text)); // the default rounding: halves to even
    return int(std::clamp(value, -kLimit, kLimit));
}

namespace {

const QString kConfigurationSection = QStringLiteral("Configuration");
const QString kPortKey = QStringLiteral("COMMPORT");
const QString kSpeedKey = QStringLiteral("COMMSPEED");
const QString kEditorKey = QStringLiteral("Editor");
const QString kLastSettingsSection = QStringLiteral("LastSettings");
const QString kProgramKey = QStringLiteral("LastFlashSProg");
const QString kPortsSection = QStringLiteral("Ports");
const QString kLibrarySection = QStringLiteral("Library");
const QString kAircraftKey = QStringLiteral("ThisPcsAircraft");
const QString kLocationKey = QStringLiteral("Location");
const QString kDialogFolderKey = QStringLiteral("Dialog Folder");
const QString kLastAircraftKey = QStringLiteral("Last Aircraft");

QString PortKey(int n)
{
    return QStringLiteral("COM%1").arg(n);
}

} // namespace

int CommPortChoice()
{
    return SettingNumber(GetSetting(AppTitle(), kConfigurationSection, kPortKey, 0));
}

int CommPort()
{
    return CommPortChoice() + 1;
}

void SetCommPortChoice(int choice)
{
    SaveSetting(AppTitle(), kConfigurationSection, kPortKey, QString::number(choice));
}

double CommSpeedChoice()
{
    return SettingValue(GetSetting(AppTitle(), kConfigurationSection, kSpeedKey, 0));
}

void SetCommSpeedChoice(int choice)
{
    SaveSetting(AppTitle(), kConfigurationSection, kSpeedKey, QString::number(choice));
}

QString Editor()
{
    return GetSetting(AppTitle(), kConfigurationSection, kEditorKey, QStringLiteral("notepad.exe"));
}

void SetEditor(const QString &path)
{
    SaveSetting(AppTitle(), kConfigurationSection, kEditorKey, path);
}

QString LastFlashProgram()
{
    return GetSetting(AppTitle(), kLastSettingsSection, kProgramKey, QStringLiteral("*.S19"));
}

void SetLastFlashProgram(const QString &path)
{
    SaveSetting(AppTitle(), kLastSettingsSection, kProgramKey, path);
}

QString RegisteredPort(int n)
{
    return GetSetting(AppTitle(), kPortsSection, PortKey(n), QString());
}

void SetRegisteredPort(int n, const QString &device)
{
    SaveSetting(AppTitle(), kPortsSection, PortKey(n), device);
}

void ForgetRegisteredPort(int n)
{
    DeleteSetting(AppTitle(), kPortsSection, PortKey(n));
}

std::optional<QString> ThisPcsAircraft()
{
    const Registration reg =
        FlightLibrary::CheckRegistration(GetSetting(AppTitle(), kLibrarySection, kAircraftKey, QString()));
    return reg.text;
}

void SetThisPcsAircraft(const std::optional<QString> &registration)
{
    SaveSetting(AppTitle(), kLibrarySection, kAircraftKey, registration.value_or(QString()));
}

QString LibraryLocation()
{
    const QString stored = GetSetting(AppTitle(), kLibrarySection, kLocationKey, QString());
    return stored.isEmpty() ? FlightLibrary::DefaultFolder() : stored;
}

void SetLibraryLocation(const QString &location)
{
    SaveSetting(AppTitle(), kLibrarySection, kLocationKey, FlightLibrary::Shown(location));
}

QString LibraryDialogFolder()
{
    return GetSetting(AppTitle(), kLibrarySection, kDialogFolderKey, QString());
}

void SetLibraryDialogFolder(const QString &folder)
{
    SaveSetting(AppTitle(), kLibrarySection, kDialogFolderKey, folder);
}

QString LastImportAircraft()
{
    return GetSetting(AppTitle(), kLibrarySection, kLastAircraftKey, QString());
}

void SetLastImportAircraft(const QString &registration)
{
    SaveSetting(AppTitle(), kLibrarySection, kLastAircraftKey, registration);
}

} // namespace korvel
