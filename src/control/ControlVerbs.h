#pragma once

#include "engine/Job.h"
#include "engine/SignInSecrets.h"
#include "signin/SignInJob.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <memory>

namespace kadmel {

namespace control {
struct Request;
}
class ControlReply;
class Dispatcher;
class PermanentRemoval;
class SecretStore;
class ServiceView;
class Store;
struct SettingsEdit;

struct ControlTimings
{
    // A caller's request line comes within this, or the connection goes.
    std::chrono::milliseconds idle = std::chrono::seconds(3);
    // senden and alle-senden wait at most this long for the next mail to be done.
    std::chrono::milliseconds mail = std::chrono::minutes(10);
    // A caller that does not read its answer is cut off this long after its last line.
    std::chrono::milliseconds linger = std::chrono::seconds(30);
    int filesPerStep = 20; // a removal for good, per turn of the event loop
    SignInTimings signIn = {};
};

// kadmelctl's verbs on the running engine: each answers through its ControlReply. The folder commands go the
// window's way (Dispatcher::beginCommand/endCommand, the store's moves and removals for good).
class ControlVerbs : public QObject
{
    Q_OBJECT
public:
    ControlVerbs(Store& store, Dispatcher& dispatcher, const ServiceView& view, const ControlTimings& timings,
                 SecretStore* secrets);
    ~ControlVerbs() override;

    void run(const control::Request& request, ControlReply* reply);
    const ControlTimings& timings() const { return m_timings; }

private:
    void status(const QStringList& args, ControlReply* reply);
    void list(const QStringList& args, ControlReply* reply);
    void show(const QStringList& args, ControlReply* reply);
    void exportMail(const QStringList& args, ControlReply* reply);
    void send(const QStringList& args, ControlReply* reply);
    void sendAll(const QStringList& args, ControlReply* reply);
    void remove(const QStringList& args, ControlReply* reply);
    void restore(const QStringList& args, ControlReply* reply);
    void start(const QStringList& args, ControlReply* reply);
    void stop(const QStringList& args, ControlReply* reply);
    void setUp(const QStringList& args, ControlReply* reply);
    void signIn(const QStringList& args, ControlReply* reply);

    // The IDs named, each of a mail of the store; nothing when one is not (the reply says so then).
    std::optional<QList<qint16>> mailIds(const QStringList& args, ControlReply* reply) const;
    // `failedBefore`: the command's moves did not all succeed, so it ends with code 1 anyway.
    void removeForGood(const QList<qint16>& ids, ControlReply* reply, bool failedBefore);
    void removalStep();
    // Saves the edit as the settings dialog's OK does: the secrets to their place first, then saveSettings.
    void saveEdit(const SettingsEdit& edit, ControlReply* reply, const QString& done);

    class SendRun;

    Store& m_store;
    Dispatcher& m_dispatcher;
    const ServiceView& m_view;
    ControlTimings m_timings;
    SecretStore* m_secrets;
    std::unique_ptr<PermanentRemoval> m_removal;
    QPointer<ControlReply> m_removalReply;
    qsizetype m_removalCount = 0;
    bool m_removalFailed = false;
    QTimer m_removalTimer;
    JobPtr<SecretsJob> m_placing;
    JobPtr<SignInJob> m_signIn;
    QString m_lastFailure; // status's "Letzter Fehler" when the start was not refused
};

} // namespace kadmel
