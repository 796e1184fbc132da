#include "store/EncryptionSetting.h"

#include "store/Ansi.h"
#include "store/IniFile.h"

#include <array>
#include <utility>

namespace kadmel {
namespace {

const QByteArray Section = "SMTP";
const QByteArray Key = "Verschluesselung";

std::optional<Encryption> refuse(QString* error, const QString& reason)
{
    if (error)
        *error = QStringLiteral("„kadmel.ini“: %1 Es werden keine E-Mails gesendet, auch nicht unverschlüsselt.")
                     .arg(reason);
    return std::nullopt;
}

// The ASCII letters of a text in lower case: what is left of a key however it was spelt, encoded or padded.
QByteArray letters(const QByteArray& text)
{
    QByteArray kept;
    for (const char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
            kept += char(c | 0x20);
    }
    return kept;
}

} // namespace

// Its key (before "=" or ":") reads like one, or its value names a secure connection. With an umlaut, a
// colon, an invisible character, UTF-16 or in a misspelt section it is not understood, and then it must not
// count as "Keine".
bool looksLikeEncryption(const QByteArray& line)
{
    const qsizetype equals = line.indexOf('='), colon = line.indexOf(':');
    const qsizetype cut = equals < 0 ? colon : colon < 0 ? equals : qMin(equals, colon);
    const QByteArray key = letters(cut < 0 ? line : line.left(cut));
    const QByteArray value = cut < 0 ? QByteArray() : letters(line.mid(cut + 1));
    for (const char* part : {"verschl", "encrypt", "tls", "ssl"}) {
        if (key.contains(part))
            return true;
    }
    return value == "starttls" || value == "ssltls" || value == "tls" || value == "ssl";
}

namespace {

// The line as the user may look for it in an editor: invisible and blank-like characters are named.
QString shownLine(const QByteArray& line)
{
    QByteArray printable;
    for (const char c : line) {
        if (uchar(c) >= 0x20)
            printable += c;
    }
    QString text = QString::fromUtf8(printable);
    if (text.contains(QChar::ReplacementCharacter))
        text = fromAnsi(printable);
    QString shown;
    for (const QChar c : std::as_const(text)) {
        const bool hidden = c.unicode() > 0x7E && (c.isSpace() || c.category() == QChar::Other_Format);
        shown += hidden ? QStringLiteral("<U+%1>").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper() : QString(c);
    }
    return shown.left(80);
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

std::optional<Encryption> readEncryption(const QByteArrayList& lines, QString* error)
{
    std::optional<Encryption> chosen;
    bool inSmtp = true; // the key counts before any section too: a hand-written file may ask for it there
    for (const QByteArray& line : lines) {
        if (const std::optional<QByteArray> header = iniSectionName(line)) {
            inSmtp = header->compare(Section, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (isIniComment(line))
            continue;
        const auto entry = iniEntry(line);
        if (!inSmtp || !entry || entry->first.compare(Key, Qt::CaseInsensitive) != 0) {
            if (!looksLikeEncryption(line))
                continue;
            QString reason = QStringLiteral("Die Zeile „%1“ sieht nach einer Verschlüsselung aus, wird aber nicht "
                                            "verstanden (erwartet im Abschnitt [SMTP]: Verschluesselung=Keine, "
                                            "STARTTLS oder SSL/TLS).")
                                 .arg(shownLine(line));
            if (line.contains('\0'))
                reason += QStringLiteral(" Die Datei ist wohl nicht als UTF-8 gespeichert (UTF-16?).");
            return refuse(error, reason);
        }
        const QString text = QString::fromUtf8(entry->second);
        const std::optional<Encryption> named = encryptionFromName(text);
        if (!named)
            return refuse(error,
                          QStringLiteral("Die Verschlüsselung „%1“ ist unbekannt (erlaubt: Keine, STARTTLS, SSL/TLS).")
                              .arg(text));
        if (chosen && named != chosen)
            return refuse(error, QStringLiteral("Die Datei nennt mehr als eine Verschlüsselung."));
        chosen = named;
    }
    return chosen.value_or(Encryption::Keine);
}

IniChange encryptionIniChange(Encryption encryption)
{
    return {Section, Key, encryptionName(encryption).toLatin1(), true};
}

} // namespace kadmel
