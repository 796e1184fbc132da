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
// Far beyond a few settings and window positions; a bigger file is not read at all.
constexpr qint64 MaxIniBytes = 1 << 20;

const QString& key()
{
    static const QString Key = QStringLiteral("SMTP/Verschluesselung");
    return Key;
}

// The key in any letter case, in [SMTP] or before any section: a hand-edited file that asks for
// encryption must not be read as "Keine" for a capital letter.
bool isEncryptionKey(const QString& name)
{
    const QStringList parts = name.split(QLatin1Char('/'));
    const bool smtp = parts.size() == 1 ||
                      (parts.size() == 2 && parts.first().compare(QLatin1String("SMTP"), Qt::CaseInsensitive) == 0);
    return smtp && parts.last().compare(QLatin1String("Verschluesselung"), Qt::CaseInsensitive) == 0;
}

std::optional<Encryption> refuse(QString* error, const QString& path, const QString& reason)
{
    if (error)
        *error = QStringLiteral("%1: %2 Es werden keine E-Mails gesendet, auch nicht unverschlüsselt.")
                     .arg(quotedName(path), reason);
    return std::nullopt;
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

std::optional<Encryption> encryptionFromName(const QString& name)
{
    const QString trimmed = name.trimmed();
    for (const auto& [value, text] : names()) {
        if (trimmed.compare(QLatin1String(text), Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}

QString encryptionFilePathIn(const QString& programFolder)
{
    return programFolder + QStringLiteral("/kadmel.ini");
}

std::optional<Encryption> loadEncryption(const QString& programFolder, QString* error)
{
    const QString path = encryptionFilePathIn(programFolder);
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return Encryption::Keine;
    // Only a regular file is opened: a FIFO would block, a device never end.
    if (!info.isFile())
        return refuse(error, path, QStringLiteral("Die Datei ist keine gewöhnliche Datei."));
    if (info.size() > MaxIniBytes)
        return refuse(error, path, QStringLiteral("Die Datei ist zu groß."));
    if (QFile file(path); !file.open(QIODevice::ReadOnly))
        return refuse(error, path, QStringLiteral("Die Datei lässt sich nicht lesen."));
    const QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        return refuse(error, path, QStringLiteral("Die Datei lässt sich nicht lesen."));
    QStringList values;
    for (const QString& name : ini.allKeys()) {
        if (isEncryptionKey(name)) {
            // "a, b" reads as a list: none of the three either.
            const QVariant value = ini.value(name);
            values << (value.typeId() == QMetaType::QString ? value.toString() : value.toStringList().join(u','));
        }
    }
    if (values.isEmpty())
        return Encryption::Keine;
    for (const QString& value : std::as_const(values)) {
        if (!encryptionFromName(value))
            return refuse(error, path,
                          QStringLiteral("Die Verschlüsselung „%1“ ist unbekannt (erlaubt: Keine, STARTTLS, SSL/TLS).")
                              .arg(value));
        if (encryptionFromName(value) != encryptionFromName(values.first()))
            return refuse(error, path, QStringLiteral("Die Datei nennt mehr als eine Verschlüsselung."));
    }
    return encryptionFromName(values.first());
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
        for (const QString& name : ini.allKeys()) {
            if (isEncryptionKey(name)) // a hand-written spelling would contradict the new value
                ini.remove(name);
        }
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
