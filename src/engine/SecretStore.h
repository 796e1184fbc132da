#pragma once

#include "engine/Job.h"

#include <QByteArray>
#include <QString>

namespace kadmel {

// What a SecretStore answers: the secret read, or why not (German).
struct SecretAnswer
{
    bool ok = false;
    QByteArray secret;
    QString error;
};

// One call of a SecretStore: finishes with answer(), within the store's own time limit.
class SecretJob : public Job
{
    Q_OBJECT
public:
    using Job::Job;
    const SecretAnswer& answer() const { return m_answer; }
    // For the store: the first answer counts, later ones do nothing.
    void answerWith(const SecretAnswer& answer)
    {
        if (isFinished())
            return;
        m_answer = answer;
        finish();
    }

private:
    SecretAnswer m_answer;
};

// A place for secrets outside kadmel.ini, such as the desktop's keyring, by name. Each call is a job;
// dropping it drops its answer, while a write or removal already handed on may still take place. Reading a
// name that holds nothing is a failure.
class SecretStore
{
public:
    virtual ~SecretStore() = default;
    virtual JobPtr<SecretJob> read(const QString& name) = 0;
    virtual JobPtr<SecretJob> write(const QString& name, const QByteArray& secret) = 0;
    virtual JobPtr<SecretJob> remove(const QString& name) = 0;
};

} // namespace kadmel
