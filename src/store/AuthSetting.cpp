#include "store/AuthSetting.h"

#include "store/Ansi.h"
#include "store/CryptString.h"

#include <QStringDecoder>

#include <array>
#include <utility>

namespace kadmel {
namespace {

const QByteArray Section = "Anmeldung";

constexpr std::array<std::pair<AuthMethod, const char*>, 4> Names = {{
    {AuthMethod::Kennwort, "Kennwort"},
    {AuthMethod::OAuth2Dienst, "OAuth2-Dienst"},
    {AuthMethod::OAuth2Browser, "OAuth2-Browser"},
    {AuthMethod::OAuth2Device, "OAuth2-Geraetecode"},
}};

// The secrets are scrambled as the settings file scrambles the password: not safe from the owner, but not
// readable at a glance over the shoulder either.
QByteArray scrambled(const QByteArray& text)
{
    return CryptString(text, 1);
}

QByteArray unscrambled(const QByteArray& text)
{
    return CryptString(text, 2);
}

// A scrambled text holds only the ten table characters, so this note cannot be mistaken for one.
const QByteArray KeyringNote = "@Schluesselbund:";

// A stored secret: its keyring entry's name when the value is a note, else the secret itself.
void readSecret(const IniSection& section, const QByteArray& key, QByteArray& secret, QByteArray& entry)
{
    const QByteArray value = section.value(key).value_or(QByteArray());
    if (value.startsWith(KeyringNote))
        entry = value.mid(KeyringNote.size());
    else
        secret = unscrambled(value);
}

QByteArray filedSecret(const QByteArray& secret, const QByteArray& entry)
{
    return entry.isEmpty() ? scrambled(secret) : KeyringNote + entry;
}

} // namespace

QString authText(const QByteArray& value)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(value);
    return utf8.hasError() ? fromAnsi(value) : text;
}

QByteArray authBytes(const QString& text)
{
    return text.toUtf8();
}

AuthSetting asFiled(AuthSetting setting)
{
    if (!setting.clientSecretKey.isEmpty())
        setting.clientSecret.clear();
    if (!setting.refreshTokenKey.isEmpty())
        setting.refreshToken.clear();
    return setting;
}

QByteArray authMethodName(AuthMethod method)
{
    for (const auto& [value, name] : Names) {
        if (value == method)
            return name;
    }
    return "Kennwort";
}

std::optional<AuthMethod> authMethodFromName(const QByteArray& name)
{
    const QByteArray trimmed = name.trimmed();
    for (const auto& [value, text] : Names) {
        if (trimmed.compare(text, Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}

std::optional<AuthSetting> readAuthSetting(const IniSection& section, QString* error)
{
    AuthSetting setting;
    if (const std::optional<QByteArray> method = section.value("Verfahren")) {
        const std::optional<AuthMethod> known = authMethodFromName(*method);
        if (!known) {
            if (error)
                *error = QStringLiteral("„kadmel.ini“: Das Anmeldeverfahren „%1“ ist unbekannt (erlaubt: Kennwort, "
                                        "OAuth2-Dienst, OAuth2-Browser, OAuth2-Geraetecode).")
                             .arg(QString::fromUtf8(*method));
            return std::nullopt;
        }
        setting.method = *known;
    }
    setting.tokenUrl = section.value("TokenAdresse").value_or(QByteArray());
    setting.authorizationUrl = section.value("AutorisierungsAdresse").value_or(QByteArray());
    setting.clientId = section.value("ClientId").value_or(QByteArray());
    readSecret(section, "ClientGeheimnis", setting.clientSecret, setting.clientSecretKey);
    setting.scope = section.value("Bereich").value_or(QByteArray());
    readSecret(section, "Aktualisierungstoken", setting.refreshToken, setting.refreshTokenKey);
    return setting;
}

QList<IniChange> authIniChanges(const AuthSetting& setting)
{
    const IniEntries entries = {
        {"Verfahren", authMethodName(setting.method)},
        {"TokenAdresse", setting.tokenUrl},
        {"AutorisierungsAdresse", setting.authorizationUrl},
        {"ClientId", setting.clientId},
        {"ClientGeheimnis", filedSecret(setting.clientSecret, setting.clientSecretKey)},
        {"Bereich", setting.scope},
        {"Aktualisierungstoken", filedSecret(setting.refreshToken, setting.refreshTokenKey)},
    };
    QList<IniChange> changes;
    for (const auto& [key, value] : entries)
        changes.append({Section, key, value});
    return changes;
}

} // namespace kadmel
