#include "imap/MailboxWatch.h"

#include "engine/OAuthTokenSource.h"
#include "engine/SignInSecrets.h"
#include "store/Ansi.h"
#include "store/FileAccess.h"
#include "store/StorePaths.h"

namespace kadmel {
namespace {

const QByteArray Unreachable = "Postfach f\xFCr R\xFC"
                               "ckmeldungen nicht erreichbar: ";

} // namespace

MailboxWatch::MailboxWatch(const QString& programFolder, PlanSource plan, OAuthTokenSource* tokens,
                           SecretStore* secrets, MailboxWatchTimings timings, QObject* parent)
    : QObject(parent), m_folder(programFolder), m_plan(std::move(plan)), m_tokens(tokens), m_secrets(secrets),
      m_timings(timings), m_session(timings.imap)
{
    m_timer.setInterval(m_timings.intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &MailboxWatch::look);
    connect(&m_session, &ImapSession::selected, this, &MailboxWatch::onSelected);
    connect(&m_session, &ImapSession::found, this, [this](const QList<quint32>& uids) {
        m_queue = uids;
        fetchNext();
    });
    connect(&m_session, &ImapSession::fetched, this, [this](quint32 uid, const QByteArray& message) {
        m_inHand = uid;
        Q_EMIT messageFetched(message);
    });
    connect(&m_session, &ImapSession::moved, this, [this](quint32 uid, const QByteArray& refusal) {
        if (!refusal.isEmpty())
            m_trouble = "Postfach f\xFCr R\xFC"
                        "ckmeldungen: Verschieben nach \x84" +
                        toAnsi(authText(m_moveTo)) + "\x93 abgelehnt: " + refusal;
        taken(uid);
    });
    connect(&m_session, &ImapSession::finished, this, [this](const QByteArray& failure) {
        if (m_tokens && !m_server.accessToken.isEmpty() && m_session.signInRefused())
            m_tokens->forget(); // the next look asks for a new token, as sending does after a refusal
        ended(failure);
    });
}

MailboxWatch::~MailboxWatch() = default;

void MailboxWatch::start()
{
    if (std::exchange(m_running, true))
        return;
    m_timer.start();
    QTimer::singleShot(0, this, &MailboxWatch::look);
}

void MailboxWatch::stop()
{
    m_running = m_looking = false;
    m_timer.stop();
    m_session.abort();
    m_readingSecrets.reset();
    m_token.reset();
    m_inHand.reset();
    m_queue.clear();
}

void MailboxWatch::look()
{
    if (!m_running || m_looking)
        return;
    const MailboxPlan plan = m_plan();
    if (!plan.mailbox.isSet()) {
        if (plan.problem.isEmpty())
            ended({}); // switched off: a problem said before is over
        else if (!std::exchange(m_failing, true))
            Q_EMIT problem(toAnsi(plan.problem));
        return;
    }
    m_looking = true;
    m_moveTo = plan.mailbox.moveTo;
    if (!plan.oauth)
        return connectWith(plan.server);
    m_server = plan.server;
    const AuthSetting& auth = *plan.oauth;
    if (!m_tokens)
        return ended("Keine Anmeldung mit OAuth 2.0 m\xF6glich");
    if (!auth.inKeyring())
        return requestToken(auth);
    if ((m_token = m_tokens->requestKept(auth)))
        return requestToken({}); // the kept token's job is in hand
    m_readingSecrets = readSecrets(m_secrets, auth);
    connect(m_readingSecrets.get(), &Job::finished, this, [this] {
        const JobPtr<SecretsJob> read = std::move(m_readingSecrets);
        if (!read->setting())
            return ended(toAnsi(read->error()));
        requestToken(*read->setting());
    });
}

void MailboxWatch::requestToken(const AuthSetting& auth)
{
    if (!m_token)
        m_token = m_tokens->request(auth);
    connect(m_token.get(), &Job::finished, this, [this] {
        const JobPtr<AccessTokenJob> job = std::move(m_token);
        if (job->token().isEmpty())
            return ended(job->reason());
        ImapServer server = m_server;
        server.accessToken = job->token();
        connectWith(server);
    });
}

void MailboxWatch::connectWith(const ImapServer& server)
{
    m_server = server;
    m_trouble.clear();
    m_session.open(server, !m_moveTo.isEmpty());
}

void MailboxWatch::onSelected(quint32 uidValidity, quint32 uidNext)
{
    if (!m_state) {
        // A damaged file is kept as .bad; the inbox is then looked at afresh.
        QString error;
        m_state =
            loadSideFile<MailboxState>(reportMailboxPathIn(m_folder), MaxMailboxStateBytes, decodeMailboxState, &error)
                .value_or(MailboxState{});
    }
    MailboxState here{m_server.host, m_server.user, uidValidity, uidNext - 1};
    if (m_state->sameMailbox(here))
        return m_session.search(m_state->lastUid);
    if (save(here))
        m_state = here;
    m_session.logout();
}

void MailboxWatch::fetchNext()
{
    if (m_queue.isEmpty())
        return m_session.logout();
    m_session.fetch(m_queue.takeFirst());
}

void MailboxWatch::handled(bool ours)
{
    if (!m_inHand)
        return;
    const quint32 uid = *std::exchange(m_inHand, std::nullopt);
    if (ours && !m_moveTo.isEmpty())
        return m_session.move(uid, authText(m_moveTo));
    taken(uid);
}

void MailboxWatch::putBack()
{
    if (!std::exchange(m_inHand, std::nullopt))
        return;
    m_queue.clear();
    fetchNext();
}

void MailboxWatch::taken(quint32 uid)
{
    MailboxState next = *m_state;
    next.lastUid = uid;
    // Kept in memory all the same: this run reads no message twice, even when the file cannot be written.
    save(next);
    m_state = next;
    fetchNext();
}

bool MailboxWatch::save(const MailboxState& state)
{
    QString error;
    if (writeWholeFile(reportMailboxPathIn(m_folder), encodeMailboxState(state), &error))
        return true;
    m_trouble = "Postfach f\xFCr R\xFC"
                "ckmeldungen: Stand nicht gespeichert: " +
                toAnsi(error);
    return false;
}

void MailboxWatch::ended(const QByteArray& failure)
{
    m_looking = false;
    m_inHand.reset();
    m_queue.clear();
    const QByteArray line = failure.isEmpty() ? std::exchange(m_trouble, {}) : Unreachable + failure;
    if (line.isEmpty()) {
        if (std::exchange(m_failing, false))
            Q_EMIT problemOver();
    } else if (!std::exchange(m_failing, true)) {
        Q_EMIT problem(line);
    }
}

} // namespace kadmel
