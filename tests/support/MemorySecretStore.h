#pragma once

#include "engine/SecretStore.h"

#include <QMap>
#include <QTimer>

namespace kadmel::test {

// A keyring in memory, for tests whose subject is not the keyring itself. With `refusal` set, every call
// fails with it, as a locked keyring does.
class MemorySecretStore : public SecretStore
{
public:
    QMap<QString, QByteArray> entries;
    QString refusal;

    void read(const QString& name, QObject* context, SecretDone done) override
    {
        const bool found = refusal.isEmpty() && entries.contains(name);
        answer(context, done, {found, entries.value(name), found ? QString() : refusal + QStringLiteral("fehlt")});
    }
    void write(const QString& name, const QByteArray& secret, QObject* context, SecretDone done) override
    {
        if (refusal.isEmpty())
            entries.insert(name, secret);
        answer(context, done, {refusal.isEmpty(), {}, refusal});
    }
    void remove(const QString& name, QObject* context, SecretDone done) override
    {
        if (refusal.isEmpty())
            entries.remove(name);
        answer(context, done, {refusal.isEmpty(), {}, refusal});
    }

private:
    static void answer(QObject* context, const SecretDone& done, const SecretAnswer& result)
    {
        if (context && done)
            QTimer::singleShot(0, context, [done, result] { done(result); });
    }
};

} // namespace kadmel::test
