#include "keyring/KeyringSecretStore.h"

#include <QPointer>
#include <QTimer>

#include <qt6keychain/keychain.h>

#include <memory>
#include <utility>

namespace kadmel {
namespace {

// Every entry of this program is filed under this service; the name tells its entries apart.
const QString Service = QStringLiteral("Kadmel Mail System");

QString reasonOf(const QKeychain::Job& job)
{
    const QString detail = job.errorString();
    switch (job.error()) {
    case QKeychain::EntryNotFound:
        return QStringLiteral("Der Eintrag „%1“ fehlt (der Schlüsselbund ist gesperrt oder der Eintrag gelöscht).")
            .arg(job.key());
    case QKeychain::AccessDeniedByUser:
        return QStringLiteral("Der Zugriff auf den Schlüsselbund wurde abgelehnt.");
    case QKeychain::NoBackendAvailable:
        return QStringLiteral("Kein Schlüsselbund verfügbar (%1).").arg(detail);
    default:
        return QStringLiteral("Der Schlüsselbund verweigert den Zugriff: %1").arg(detail);
    }
}

} // namespace

KeyringSecretStore::KeyringSecretStore(int timeoutMs, QObject* parent) : QObject(parent), m_timeoutMs(timeoutMs) {}

template <typename JobType>
void KeyringSecretStore::run(JobType* job, const QString& name, QObject* context, SecretDone done)
{
    const QPointer<QObject> receiver(context);
    // Whichever comes first, the job's answer or the time limit, answers; the other finds nothing to do.
    auto pending = std::make_shared<SecretDone>(context ? std::move(done) : SecretDone());
    const auto answer = [receiver, pending](const SecretAnswer& result) {
        const SecretDone call = std::exchange(*pending, {});
        if (call && receiver)
            call(result);
    };
    job->setAutoDelete(true); // also when it answers after the time limit
    job->setKey(name);
    connect(job, &QKeychain::Job::finished, this, [answer](QKeychain::Job* finished) {
        SecretAnswer result;
        result.ok = finished->error() == QKeychain::NoError;
        if (!result.ok)
            result.error = reasonOf(*finished);
        else if (const auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(finished))
            result.secret = read->binaryData();
        answer(result);
    });
    QTimer::singleShot(m_timeoutMs, this, [answer, seconds = m_timeoutMs / 1000] {
        answer(
            {false,
             {},
             QStringLiteral("Der Schlüsselbund hat nicht innerhalb von %1 s geantwortet (gesperrt?).").arg(seconds)});
    });
    // Started from the event loop, so that no answer comes from within this call.
    QTimer::singleShot(0, job, [job] { job->start(); });
}

void KeyringSecretStore::read(const QString& name, QObject* context, SecretDone done)
{
    run(new QKeychain::ReadPasswordJob(Service), name, context, std::move(done));
}

void KeyringSecretStore::write(const QString& name, const QByteArray& secret, QObject* context, SecretDone done)
{
    auto* job = new QKeychain::WritePasswordJob(Service);
    job->setBinaryData(secret);
    run(job, name, context, std::move(done));
}

void KeyringSecretStore::remove(const QString& name, QObject* context, SecretDone done)
{
    run(new QKeychain::DeletePasswordJob(Service), name, context, std::move(done));
}

} // namespace kadmel
