#pragma once

#include "engine/SecretStore.h"
#include "store/AuthSetting.h"

#include <optional>

namespace kadmel {

// The two secrets of an OAuth 2.0 sign-in (client secret, refresh token) in their place: the desktop's keyring
// where one takes them, else kadmel.ini, scrambled. A secret moves by being written to its new place first;
// the old entry is removed only once the file names the new one, so no step loses it.

// A read or a placing of the secrets, as a job.
class SecretsJob : public Job
{
    Q_OBJECT
public:
    enum class Step
    {
        Read,
        Place,
    };
    SecretsJob(SecretStore* store, const AuthSetting& setting, Step step, QObject* parent = nullptr);

    // Read: the setting with its secrets, nothing when one could not be read. Placed: always the setting.
    const std::optional<AuthSetting>& setting() const { return m_setting; }
    // Why not (German); empty when all went well.
    const QString& error() const { return m_error; }

private:
    void next();
    void stepped(std::size_t secret, const QByteArray& entry);
    void end(std::optional<AuthSetting> setting, const QString& error);

    SecretStore* m_store;
    Step m_step;
    AuthSetting m_work;
    std::size_t m_next = 0;
    QList<std::size_t> m_written;
    JobPtr<SecretJob> m_call;
    std::optional<AuthSetting> m_setting;
    QString m_error;
};

// The setting with its keyring-held secrets read, or nothing and the reason when one cannot be read.
JobPtr<SecretsJob> readSecrets(SecretStore* store, const AuthSetting& setting);

// Whether placeSecrets() has a secret to write to the keyring.
bool secretsToPlace(const SecretStore* store, const AuthSetting& setting);
// The setting with each secret that has no keyring entry yet written to a new one. When the keyring does not
// take one, the secrets of this round stay with the setting for the file and error() says why; entries
// written in vain are removed. A secret that already has an entry keeps it.
JobPtr<SecretsJob> placeSecrets(SecretStore* store, const AuthSetting& setting);

// Removes the keyring entries that `before` names and `after` does not. One the keyring keeps against this
// is named by no file and harms nothing.
void forgetSecrets(SecretStore* store, const AuthSetting& before, const AuthSetting& after);

// Where the file says the secrets are, for the settings dialog; empty when there are none.
QString secretsPlaceText(const AuthSetting& setting);

} // namespace kadmel
