#include "core/modRegistry.h"

#include "platform/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

namespace modRegistry {

namespace {

struct Location
{
    QString file;
    QString group;
    bool valid = false;
};

// "Software\Norvane\Tamsel\Setup" -> <settings dir>/Norvane/Tamsel.ini, group "Setup".
Location locate(const QString &subKey)
{
    const QStringList parts = subKey.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    Location loc;
    if (parts.size() < 3 || parts.at(0).compare(QLatin1String("Software"), Qt::CaseInsensitive) != 0)
        return loc;
    const QString organisation = parts.at(1);
    const QString application = parts.at(2);
    loc.file = QDir(Paths::settingsDir()).filePath(organisation + QLatin1Char('/') + application + QStringLiteral(".ini"));
    loc.group = parts.mid(3).join(QLatin1Char('/'));
    loc.valid = !organisation.isEmpty() && !application.isEmpty();
    return loc;
}

QString subKeyOf(const QString &application, const QString &section)
{
    return QStringLiteral("Software\\Norvane\\") + application + QLatin1Char('\\') + section;
}

} // namespace

QString RegQueryString(RootKey root, QString subKey, QString valueName, QString defaultValue)
{
    if (root != HKEY_LOCAL_MACHINE)
        return defaultValue;
    const Location loc = locate(subKey);
    if (!loc.valid || !QFileInfo::exists(loc.file))
        return defaultValue;
    QSettings store(loc.file, QSettings::IniFormat);
    if (!loc.group.isEmpty())
        store.beginGroup(loc.group);
    if (!store.contains(valueName))
        return defaultValue;
    const QVariant value = store.value(valueName);
    QString text;
    if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray)
        text = value.toString();
    else if (value.typeId() == QMetaType::QStringList)
        text = value.toStringList().join(QStringLiteral(", ")); // an unquoted comma in a hand-edited file
    else
        return defaultValue;
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

void RegWriteString(RootKey root, QString subKey, QString valueName, QString text)
{
    if (root != HKEY_LOCAL_MACHINE)
        return;
    const Location loc = locate(subKey);
    if (!loc.valid)
        return;
    // Created with fixed modes first: QSettings would take them from the umask, and a store others
    // can write would let any local user switch encryption off or redirect the ports.
    Paths::prepareSettingsFile(loc.file);
    QSettings store(loc.file, QSettings::IniFormat);
    if (!loc.group.isEmpty())
        store.beginGroup(loc.group);
    store.setValue(valueName, text);
    store.endGroup();
    store.sync();
}

QString GetRegSetting(QString application, QString section, QString key, QString defaultValue)
{
    return RegQueryString(HKEY_LOCAL_MACHINE, subKeyOf(application, section), key, defaultValue);
}

void SaveRegSetting(QString application, QString section, QString key, QString value)
{
    RegWriteString(HKEY_LOCAL_MACHINE, subKeyOf(application, section), key, value);
}

} // namespace modRegistry
