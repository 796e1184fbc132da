#pragma once

#include <QByteArray>
#include <QString>

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
// The value of such a text; anything else is Keine.
Encryption encryptionFromName(const QString& name);

// "kadmel.ini" in the program folder; it sits beside the settings file, whose layout stays fixed.
QString encryptionFilePathIn(const QString& programFolder);

// Keine when the file is missing, unreadable or holds no known value.
Encryption loadEncryption(const QString& programFolder);

// Writes the value, the file readable and writable by its owner only. On failure the reason is
// German, for the user.
bool saveEncryption(const QString& programFolder, Encryption encryption, QString* error = nullptr);

} // namespace kadmel
