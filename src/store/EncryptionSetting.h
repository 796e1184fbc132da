#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace kadmel {

// How the connection to the mail server is protected. Keine keeps the conversation in the clear.
enum class Encryption
{
    Keine,
    StartTls, // STARTTLS after the first EHLO
    SslTls,   // TLS from the first byte
};

// The text shown and stored for each value: "Keine", "STARTTLS", "SSL/TLS".
QString encryptionName(Encryption encryption);
// The value of such a text, in any letter case and with blanks around it; nothing for any other text.
std::optional<Encryption> encryptionFromName(const QString& name);

// "kadmel.ini" in the program folder; it sits beside the settings file, whose layout stays fixed.
QString encryptionFilePathIn(const QString& programFolder);

// Keine when the file is missing or has nothing that looks like an encryption setting. The key
// "Verschluesselung" counts in [SMTP] and before the first section. Nothing, with a German reason, when the
// file is no regular file, cannot be read, a value is none of the three (empty included) or two differ, or a
// line elsewhere or in another spelling seems to set one: then no mail may go out, since the user may have
// asked for encryption.
std::optional<Encryption> loadEncryption(const QString& programFolder, QString* error = nullptr);

// Writes the value and drops every other line that seems to set one; the file readable and writable by its
// owner only. On failure the reason is
// German, for the user.
bool saveEncryption(const QString& programFolder, Encryption encryption, QString* error = nullptr);

} // namespace kadmel
