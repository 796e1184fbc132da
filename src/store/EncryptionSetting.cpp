#include "store/EncryptionSetting.h"

#include "store/FileAccess.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <array>
#include <utility>

namespace kadmel {
namespace {

constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

const QString& key()
{
    static const QString Key = QStringLiteral("SMTP/Verschluesselung");
    return Key;
}

const std::array<std::pair<Encryption, const char*>, 3>& names()
{
    static const std::array<std::pair<Encryption, const char*>, 3> Names = {{
        {Encryption::Keine, "Keine"},
        {Encryption::StartTls, "STARTTLS"},
        {Encryption::SslTls, "SSL/TLS"},
    }};
    return Names;
}

bool report(QString* error, const QString& path, const QString& reason)
{
    if (error)
        *error = QStringLiteral("%1 ließ sich nicht speichern: %2").arg(quotedName(path), reason);
    return false;
}

} // namespace

QString encryptionName(Encryption encryption)
{
    for (const auto& [value, name] : names()) {
        if (value == encryption)
            return QString::fromLatin1(name);
    }
    return QStringLiteral("Keine");
}

Encryption encryptionFromName(const QString& name)
{
    for (const auto& [value, text] : names()) {
        if (name == QLatin1String(text))
            return value;
    }
    return Encryption::Keine;
}

QString encryptionFilePathIn(const QString& programFolder)
{
    return programFolder + QStringLiteral("/kadmel.ini");
}

Encryption loadEncryption(const QString& programFolder)
{
    const QString path = encryptionFilePathIn(programFolder);
    if (!QFileInfo(path).isFile())
        return Encryption::Keine;
    const QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        return Encryption::Keine;
    return encryptionFromName(ini.value(key()).toString());
}

bool saveEncryption(const QString& programFolder, Encryption encryption, QString* error)
{
    const QString path = encryptionFilePathIn(programFolder);
    // QSettings would write through a link in the file's place: the link goes first.
    if (QFileInfo(path).isSymLink() && !QFile::remove(path))
        return report(error, path, QStringLiteral("Eine Verknüpfung an ihrer Stelle ließ sich nicht entfernen."));
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return report(error, path, QStringLiteral("An ihrer Stelle liegt keine Datei."));
    if (!info.exists()) {
        // QSettings keeps the rights of a file that is already there; so it starts out owner-only.
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, OwnerOnly))
            return report(error, path, QStringLiteral("Die Datei lässt sich nicht anlegen oder öffnen."));
    }
    {
        QSettings ini(path, QSettings::IniFormat);
        ini.setValue(key(), encryptionName(encryption));
        ini.sync();
        if (ini.status() != QSettings::NoError)
            return report(error, path, QStringLiteral("Beim Schreiben ist ein Fehler aufgetreten."));
    }
    if (!QFile::setPermissions(path, OwnerOnly))
        return report(error, path, QStringLiteral("Die Zugriffsrechte ließen sich nicht setzen."));
    return true;
}

} // namespace kadmel
