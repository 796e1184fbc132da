#include "keyring/KeyringSecretStore.h"

#include <QTimer>

#include <qt6keychain/keychain.h>

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

// The keyring's own job runs to its end when ours is dropped (it deletes itself), so a write or removal handed
// on still takes place; whichever comes first, its answer or the time limit, answers ours.
JobPtr<SecretJob> KeyringSecretStore::run(QKeychain::Job* job, const QString& name)
{
    auto ours = startJob<SecretJob>();
    SecretJob* answering = ours.get();
    job->setAutoDelete(true);
    job->setKey(name);
    connect(job, &QKeychain::Job::finished, answering, [answering](QKeychain::Job* finished) {
        SecretAnswer result;
        result.ok = finished->error() == QKeychain::NoError;
        if (!result.ok)
            result.error = reasonOf(*finished);
        else if (const auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(finished))
            result.secret = read->binaryData();
        answering->answerWith(result);
    });
    QTimer::singleShot(m_timeoutMs, answering, [answering, seconds = m_timeoutMs / 1000] {
        answering->answerWith(
            {false,
             {},
             QStringLiteral("Der Schlüsselbund hat nicht innerhalb von %1 s geantwortet (gesperrt?).").arg(seconds)});
    });
    job->start();
    return ours;
}

JobPtr<SecretJob> KeyringSecretStore::read(const QString& name)
{
    return run(new QKeychain::ReadPasswordJob(Service), name);
}

JobPtr<SecretJob> KeyringSecretStore::write(const QString& name, const QByteArray& secret)
{
    auto* job = new QKeychain::WritePasswordJob(Service);
    job->setBinaryData(secret);
    return run(job, name);
}

JobPtr<SecretJob> KeyringSecretStore::remove(const QString& name)
{
    return run(new QKeychain::DeletePasswordJob(Service), name);
}

} // namespace kadmel
