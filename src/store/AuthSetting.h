#pragma once

#include "store/IniFile.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace kadmel {

// How the program signs in at the mail server. Kennwort is AUTH LOGIN (or PLAIN) with the stored
// password; the OAuth 2.0 ways sign in with an access token (XOAUTH2).
enum class AuthMethod
{
    Kennwort,
    OAuth2Dienst,  // client credentials: no person signs in
    OAuth2Browser, // a person signed in once in the browser; the refresh token is kept
    OAuth2Device,  // the same, with a code typed in on another device (RFC 8628)
};

// The section [Anmeldung] of "kadmel.ini". Texts are bytes as stored; the secret and the refresh token in
// the clear here, scrambled only in the file, or kept in the desktop's keyring, which the file then only names.
struct AuthSetting
{
    AuthMethod method = AuthMethod::Kennwort;
    QByteArray tokenUrl;         // TokenAdresse
    QByteArray authorizationUrl; // AutorisierungsAdresse (browser sign-in; the device code's address there)
    QByteArray clientId;         // ClientId
    QByteArray clientSecret;     // ClientGeheimnis
    QByteArray scope;            // Bereich
    QByteArray refreshToken;     // Aktualisierungstoken
    // Names of the keyring entries that hold the two secrets; empty: kept in the file. A secret with a name is
    // empty here until read from the keyring.
    QByteArray clientSecretKey = {};
    QByteArray refreshTokenKey = {};

    bool usesOAuth() const { return method != AuthMethod::Kennwort; }
    bool hasClientSecret() const { return !clientSecret.isEmpty() || !clientSecretKey.isEmpty(); }
    bool hasRefreshToken() const { return !refreshToken.isEmpty() || !refreshTokenKey.isEmpty(); }
    bool inKeyring() const { return !clientSecretKey.isEmpty() || !refreshTokenKey.isEmpty(); }
    friend bool operator==(const AuthSetting&, const AuthSetting&) = default;
};

// A stored value as text: UTF-8 where the bytes are valid UTF-8 (a file edited by hand, or written by the
// dialog), else Windows-1252 (written by older versions).
QString authText(const QByteArray& value);
// The bytes stored for a text: UTF-8, which holds every character.
QByteArray authBytes(const QString& text);

// "Kennwort", "OAuth2-Dienst", "OAuth2-Browser", "OAuth2-Geraetecode": the values of the key Verfahren.
QByteArray authMethodName(AuthMethod method);
// The value of such a text in any letter case and without blanks around it; nothing for any other text.
std::optional<AuthMethod> authMethodFromName(const QByteArray& name);

// What the section [Anmeldung] holds; a missing section or no Verfahren is Kennwort. An unknown Verfahren
// gives nothing and a German reason, so the service does not start with a sign-in the user did not choose.
std::optional<AuthSetting> readAuthSetting(const IniSection& section, QString* error);
// The keys that keep the setting, the secrets scrambled or, when in the keyring, "@Schluesselbund:<name>".
QList<IniChange> authIniChanges(const AuthSetting& setting);
// The setting as the file holds it: a secret in the keyring by its name alone.
AuthSetting asFiled(AuthSetting setting);

} // namespace kadmel
