#pragma once

#include "engine/SecretStore.h"

namespace QKeychain {
class Job;
}

namespace kadmel {

// Secrets in the desktop's keyring (the Secret Service of GNOME Keyring, KWallet or KeePassXC) through
// QtKeychain. A keyring that is missing, locked or refusing answers with its reason; one that does not answer
// (an unlock prompt nobody sees) fails at the time limit, and its late answer is dropped.
class KeyringSecretStore : public QObject, public SecretStore
{
    Q_OBJECT
public:
    static constexpr int DefaultTimeoutMs = 30000; // room to type the keyring's password at its prompt

    explicit KeyringSecretStore(int timeoutMs = DefaultTimeoutMs, QObject* parent = nullptr);

    JobPtr<SecretJob> read(const QString& name) override;
    JobPtr<SecretJob> write(const QString& name, const QByteArray& secret) override;
    JobPtr<SecretJob> remove(const QString& name) override;

private:
    JobPtr<SecretJob> run(QKeychain::Job* job, const QString& name);

    int m_timeoutMs;
};

} // namespace kadmel
