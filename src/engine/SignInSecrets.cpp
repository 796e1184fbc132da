#include "engine/SignInSecrets.h"

#include <QRandomGenerator>

#include <array>

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

bool toPlace(const AuthSetting& setting, const Secret& secret)
{
    return (setting.*secret.entry).isEmpty() && !(setting.*secret.value).isEmpty();
}

} // namespace

SecretsJob::SecretsJob(SecretStore* store, const AuthSetting& setting, Step step, QObject* parent)
    : Job(parent), m_store(store), m_step(step), m_work(setting)
{
    next();
}

// One secret at a time: the first that cannot be read or placed ends the round.
void SecretsJob::next()
{
    const bool reading = m_step == Step::Read;
    while (m_next < Secrets.size() &&
           (reading ? (m_work.*Secrets[m_next].entry).isEmpty() : !toPlace(m_work, Secrets[m_next])))
        ++m_next;
    if (m_next == Secrets.size() || (!m_store && !reading))
        return end(m_work, {});
    const std::size_t secret = m_next++;
    if (!m_store)
        return end(std::nullopt, QStringLiteral("%1 liegt im Schlüsselbund, doch hier ist keiner verfügbar.")
                                     .arg(QLatin1String(Secrets[secret].what)));
    const QByteArray entry = reading ? m_work.*Secrets[secret].entry : freshEntry(Secrets[secret]);
    m_call = reading ? m_store->read(QString::fromLatin1(entry))
                     : m_store->write(QString::fromLatin1(entry), m_work.*Secrets[secret].value);
    connect(m_call.get(), &Job::finished, this, [this, secret, entry] { stepped(secret, entry); });
}

void SecretsJob::stepped(std::size_t secret, const QByteArray& entry)
{
    const SecretAnswer answer = m_call->answer();
    m_call.reset();
    if (m_step == Step::Read) {
        if (!answer.ok)
            return end(std::nullopt, QStringLiteral("%1 lässt sich nicht aus dem Schlüsselbund lesen: %2")
                                         .arg(QLatin1String(Secrets[secret].what), answer.error));
        m_work.*Secrets[secret].value = answer.secret;
        return next();
    }
    if (answer.ok) {
        m_work.*Secrets[secret].entry = entry;
        m_written.append(secret);
        return next();
    }
    // This round's secrets all stay with the file: one place for what was saved together.
    AuthSetting inFile = m_work;
    for (const std::size_t i : m_written)
        (inFile.*Secrets[i].entry).clear();
    forgetSecrets(m_store, m_work, inFile);
    end(inFile, answer.error);
}

void SecretsJob::end(std::optional<AuthSetting> setting, const QString& error)
{
    m_setting = std::move(setting);
    m_error = error;
    finish();
}

JobPtr<SecretsJob> readSecrets(SecretStore* store, const AuthSetting& setting)
{
    return startJob<SecretsJob>(store, setting, SecretsJob::Step::Read);
}

bool secretsToPlace(const SecretStore* store, const AuthSetting& setting)
{
    return store && (toPlace(setting, Secrets[0]) || toPlace(setting, Secrets[1]));
}

JobPtr<SecretsJob> placeSecrets(SecretStore* store, const AuthSetting& setting)
{
    return startJob<SecretsJob>(store, setting, SecretsJob::Step::Place);
}

void forgetSecrets(SecretStore* store, const AuthSetting& before, const AuthSetting& after)
{
    if (!store)
        return;
    for (const Secret& secret : Secrets) {
        const QByteArray& entry = before.*secret.entry;
        if (!entry.isEmpty() && entry != after.*secret.entry)
            store->remove(QString::fromLatin1(entry)); // no answer wanted: the removal goes on
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
