#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

namespace kadmel {

// What a SecretStore answers: the secret read, or why not (German).
struct SecretAnswer
{
    bool ok = false;
    QByteArray secret;
    QString error;
};
using SecretDone = std::function<void(const SecretAnswer&)>;

// A place for secrets outside kadmel.ini, such as the desktop's keyring, by name. Each call answers exactly
// once through `done`, always after the call returned and within the store's own time limit, unless
// `context` is gone by then (a null context: no answer is wanted). Reading a name that holds nothing is a
// failure.
class SecretStore
{
public:
    virtual ~SecretStore() = default;
    virtual void read(const QString& name, QObject* context, SecretDone done) = 0;
    virtual void write(const QString& name, const QByteArray& secret, QObject* context, SecretDone done) = 0;
    virtual void remove(const QString& name, QObject* context, SecretDone done) = 0;
};

} // namespace kadmel
