#include "reports/ReportReading.h"

#include "engine/Dispatcher.h"
#include "engine/DispatcherView.h"
#include "imap/MailboxPlan.h"
#include "reports/DeliveryReport.h"
#include "store/Store.h"

namespace kadmel {

// What the mailbox gives is what the report reader takes: neither cuts a message the other would read.
static_assert(ImapSession::MaxMessageBytes == MaxReportBytes);

ReportReading::ReportReading(Store& store, Dispatcher& dispatcher, DispatcherView& view, SecretStore* secrets,
                             MailboxWatchTimings timings, QObject* parent)
    : QObject(parent), m_tokens(store.kadmelIni(), 10000, secrets), m_filing(store, dispatcher, view),
      m_watch(
          store.programFolder(), [&store] { return decideMailbox(store.settings(), store.kadmelIni().read()); },
          &m_tokens, secrets, timings)
{
    connect(&m_watch, &MailboxWatch::messageFetched, &m_filing, qOverload<const QByteArray&>(&ReportFiling::take));
    // Queued: the filing may answer inside take(), and the watch must not fetch the next one from there.
    connect(&m_filing, &ReportFiling::taken, &m_watch, &MailboxWatch::handled, Qt::QueuedConnection);
    connect(&m_filing, &ReportFiling::notTaken, &m_watch, &MailboxWatch::putBack, Qt::QueuedConnection);
    connect(&m_watch, &MailboxWatch::problem, this, [&view](const QByteArray& text) { view.setMessage(text); });
}

} // namespace kadmel
