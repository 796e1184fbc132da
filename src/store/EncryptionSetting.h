#pragma once

#include "store/IniFile.h"

#include <QByteArray>
#include <QList>
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

// The choice as the lines of "kadmel.ini" hold it: Keine when nothing looks like an encryption setting. The
// key "Verschluesselung" counts in [SMTP] and before the first section. Nothing, with a German reason, when a
// value is none of the three (empty included) or two differ, or a line elsewhere or in another spelling seems
// to set one: then no mail may go out, since the user may have asked for encryption.
std::optional<Encryption> readEncryption(const QByteArrayList& lines, QString* error);

// The key that keeps the choice; writing it replaces every line that looksLikeEncryption().
IniChange encryptionIniChange(Encryption encryption);

// A line that seems to set the encryption; saving the choice replaces every such line.
bool looksLikeEncryption(const QByteArray& line);

} // namespace kadmel
