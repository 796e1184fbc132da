#include "store/EncryptionSetting.h"

#include "store/FileAccess.h"
#include "store/IniFile.h"

#include <array>
#include <utility>

namespace kadmel {
namespace {

const QByteArray Section = "SMTP";
const QByteArray Key = "Verschluesselung";

std::optional<Encryption> refuse(QString* error, const QString& path, const QString& reason)
{
    if (error)
        *error = QStringLiteral("%1: %2 Es werden keine E-Mails gesendet, auch nicht unverschlüsselt.")
                     .arg(quotedName(path), reason);
    return std::nullopt;
}

constexpr std::array<std::pair<Encryption, const char*>, 3> Names = {{
    {Encryption::Keine, "Keine"},
    {Encryption::StartTls, "STARTTLS"},
    {Encryption::SslTls, "SSL/TLS"},
}};

} // namespace

QString encryptionName(Encryption encryption)
{
    for (const auto& [value, name] : Names) {
        if (value == encryption)
            return QString::fromLatin1(name);
    }
    return QStringLiteral("Keine");
}

std::optional<Encryption> encryptionFromName(const QString& name)
{
    const QString trimmed = name.trimmed();
    for (const auto& [value, text] : Names) {
        if (trimmed.compare(QLatin1String(text), Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}

QString encryptionFilePathIn(const QString& programFolder)
{
    return iniFilePathIn(programFolder);
}

std::optional<Encryption> loadEncryption(const QString& programFolder, QString* error)
{
    const QString path = encryptionFilePathIn(programFolder);
    QString readError;
    // The key counts before any section too: a hand-written file that asks for encryption there must
    // not be read as "Keine".
    const std::optional<IniSection> head = readIniSection(path, QByteArray(), &readError);
    const std::optional<IniSection> smtp = head ? readIniSection(path, Section, &readError) : std::nullopt;
    if (!head || !smtp) {
        if (error)
            *error = readError + QStringLiteral(" Es werden keine E-Mails gesendet, auch nicht unverschlüsselt.");
        return std::nullopt;
    }
    std::optional<Encryption> chosen;
    for (const QByteArray& value : head->values(Key) + smtp->values(Key)) {
        const QString text = QString::fromUtf8(value);
        const std::optional<Encryption> named = encryptionFromName(text);
        if (!named)
            return refuse(error, path,
                          QStringLiteral("Die Verschlüsselung „%1“ ist unbekannt (erlaubt: Keine, STARTTLS, SSL/TLS).")
                              .arg(text));
        if (chosen && named != chosen)
            return refuse(error, path, QStringLiteral("Die Datei nennt mehr als eine Verschlüsselung."));
        chosen = named;
    }
    return chosen.value_or(Encryption::Keine);
}

bool saveEncryption(const QString& programFolder, Encryption encryption, QString* error)
{
    return writeIniSection(encryptionFilePathIn(programFolder), Section, {{Key, encryptionName(encryption).toLatin1()}},
                           error, MaxIniFileBytes, {Key});
}

} // namespace kadmel
