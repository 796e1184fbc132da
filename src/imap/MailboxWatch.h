#pragma once

#include "engine/Job.h"
#include "imap/ImapSession.h"
#include "imap/MailboxPlan.h"
#include "imap/MailboxState.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

namespace kadmel {

class AccessTokenJob;
class OAuthTokenSource;
class SecretStore;
class SecretsJob;

struct MailboxWatchTimings
{
    int intervalMs = 5 * 60 * 1000; // from one look at the inbox to the next
    ImapTimings imap = {};
};

// Looks at the inbox of the mailbox for delivery reports, at start() and every intervalMs: the messages that
// came since the last look, by UID, one at a time. The last one taken is kept in "kadmel.rueckmeldungen" with
// the mailbox it belongs to; a first look, another mailbox or a new UIDVALIDITY begins at the inbox's UIDNEXT,
// never reading an old inbox whole. Nothing in the mailbox changes but a message handled as ours, moved to
// [Rueckmeldungen] Verschieben when that is set. Its own connection: nothing here waits for or touches sending.
class MailboxWatch : public QObject
{
    Q_OBJECT
public:
    // Asked at every look, so a changed setting counts from the next one.
    using PlanSource = std::function<MailboxPlan()>;

    // programFolder: the store that keeps the side file. tokens, secrets: for an OAuth 2.0 sign-in.
    MailboxWatch(const QString& programFolder, PlanSource plan, OAuthTokenSource* tokens = nullptr,
                 SecretStore* secrets = nullptr, MailboxWatchTimings timings = {}, QObject* parent = nullptr);
    ~MailboxWatch() override;

    void start();
    // Ends a look on its way; a message in hand is not counted and comes again at the next look.
    void stop();
    // The message of the last messageFetched() was taken: its UID counts as seen, and a report of ours (`ours`) is
    // moved where Verschieben says. Then the next one comes.
    void handled(bool ours);
    // The message of the last messageFetched() could not be taken now: this look ends without counting it, and
    // the next look fetches it again.
    void putBack();

Q_SIGNALS:
    // One message (at most ImapSession::MaxMessageBytes of it); the next only after handled().
    void messageFetched(const QByteArray& message);
    // A German line for panel 2, once for a run of failed looks.
    void problem(const QByteArray& text);
    // A look went well after problem().
    void problemOver();

private:
    void look();
    void connectWith(const ImapServer& server);
    void requestToken(const AuthSetting& auth);
    void onSelected(quint32 uidValidity, quint32 uidNext);
    void fetchNext();
    void taken(quint32 uid);
    void ended(const QByteArray& failure);
    bool save(const MailboxState& state);

    QString m_folder;
    PlanSource m_plan;
    OAuthTokenSource* m_tokens;
    SecretStore* m_secrets;
    MailboxWatchTimings m_timings;
    ImapSession m_session;
    QTimer m_timer;
    JobPtr<SecretsJob> m_readingSecrets;
    JobPtr<AccessTokenJob> m_token;

    bool m_running = false;
    bool m_looking = false;
    bool m_failing = false;
    QByteArray m_trouble; // a step of this look that went wrong though the look went on
    ImapServer m_server;
    QByteArray m_moveTo;
    std::optional<MailboxState> m_state; // read once, then kept
    QList<quint32> m_queue;
    std::optional<quint32> m_inHand;
};

} // namespace kadmel
