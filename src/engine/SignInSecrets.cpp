#include "engine/SignInSecrets.h"

#include <QRandomGenerator>
#include <QTimer>

#include <array>
#include <memory>

namespace kadmel {
namespace {

struct Secret
{
    QByteArray AuthSetting::*value;
    QByteArray AuthSetting::*entry;
    const char* name; // of the keyring entry, before its random part
    const char* what; // German, for a reason
};

const std::array<Secret, 2> Secrets = {{
    {&AuthSetting::clientSecret, &AuthSetting::clientSecretKey, "Client-Geheimnis", "Das Client-Geheimnis"},
    {&AuthSetting::refreshToken, &AuthSetting::refreshTokenKey, "Aktualisierungstoken", "Das Aktualisierungstoken"},
}};

// A new name for every write, so that the entry the file names now stays as it is until the file names another.
QByteArray freshEntry(const Secret& secret)
{
    return secret.name + QByteArray("-") + QByteArray::number(QRandomGenerator::system()->generate64(), 16);
}

void later(QObject* context, std::function<void()> call)
{
    QTimer::singleShot(0, context, std::move(call));
}

void readFrom(SecretStore* store, AuthSetting setting, std::size_t next, QObject* context, SecretsRead done)
{
    while (next < Secrets.size() && (setting.*Secrets[next].entry).isEmpty())
        ++next;
    if (next == Secrets.size())
        return later(context, [setting, done] { done(setting, {}); });
    const Secret& secret = Secrets[next];
    if (!store)
        return later(context, [done, &secret] {
            done(std::nullopt, QStringLiteral("%1 liegt im Schlüsselbund, doch hier ist keiner verfügbar.")
                                   .arg(QLatin1String(secret.what)));
        });
    store->read(QString::fromLatin1(setting.*secret.entry), context,
                [store, setting, next, context, done, &secret](const SecretAnswer& answer) mutable {
                    if (!answer.ok)
                        return done(std::nullopt, QStringLiteral("%1 lässt sich nicht aus dem Schlüsselbund lesen: %2")
                                                      .arg(QLatin1String(secret.what), answer.error));
                    setting.*secret.value = answer.secret;
                    readFrom(store, std::move(setting), next + 1, context, std::move(done));
                });
}

bool toPlace(const AuthSetting& setting, const Secret& secret)
{
    return (setting.*secret.entry).isEmpty() && !(setting.*secret.value).isEmpty();
}

void placeFrom(SecretStore* store, AuthSetting setting, std::size_t next, QList<std::size_t> written, QObject* context,
               SecretsPlaced done)
{
    while (next < Secrets.size() && !toPlace(setting, Secrets[next]))
        ++next;
    if (next == Secrets.size())
        return later(context, [setting, done] { done(setting, {}); });
    const QByteArray entry = freshEntry(Secrets[next]);
    store->write(QString::fromLatin1(entry), setting.*Secrets[next].value, context,
                 [=](const SecretAnswer& answer) mutable {
                     if (answer.ok) {
                         setting.*Secrets[next].entry = entry;
                         written.append(next);
                         return placeFrom(store, std::move(setting), next + 1, written, context, std::move(done));
                     }
                     // This round's secrets all stay with the file: one place for what was saved together.
                     AuthSetting inFile = setting;
                     for (const std::size_t i : written)
                         (inFile.*Secrets[i].entry).clear();
                     forgetSecrets(store, setting, inFile);
                     done(inFile, answer.error);
                 });
}

} // namespace

void readSecrets(SecretStore* store, const AuthSetting& setting, QObject* context, SecretsRead done)
{
    readFrom(store, setting, 0, context, std::move(done));
}

bool secretsToPlace(const SecretStore* store, const AuthSetting& setting)
{
    return store && (toPlace(setting, Secrets[0]) || toPlace(setting, Secrets[1]));
}

void placeSecrets(SecretStore* store, const AuthSetting& setting, QObject* context, SecretsPlaced done)
{
    if (!store)
        return later(context, [setting, done] { done(setting, {}); });
    placeFrom(store, setting, 0, {}, context, std::move(done));
}

void forgetSecrets(SecretStore* store, const AuthSetting& before, const AuthSetting& after)
{
    if (!store)
        return;
    for (const Secret& secret : Secrets) {
        const QByteArray& entry = before.*secret.entry;
        if (!entry.isEmpty() && entry != after.*secret.entry)
            store->remove(QString::fromLatin1(entry), nullptr, {});
    }
}

QString secretsPlaceText(const AuthSetting& setting)
{
    if (setting.inKeyring())
        return QStringLiteral("Im Schlüsselbund gespeichert");
    if (!setting.clientSecret.isEmpty() || !setting.refreshToken.isEmpty())
        return QStringLiteral("In kadmel.ini gespeichert (nur verschleiert)");
    return {};
}

} // namespace kadmel
