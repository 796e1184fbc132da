#pragma once

#include "engine/OAuthTokenSource.h"
#include "imap/MailboxWatch.h"
#include "reports/ReportFiling.h"

#include <QObject>

namespace kadmel {

class Dispatcher;
class DispatcherView;
class SecretStore;
class Store;

// Delivery reports read back from the sending mailbox ([Rueckmeldungen] Postfach): each message the watch
// fetches goes to the filing, and the watch hears whether it was a report of ours only once it is filed. A
// mailbox that cannot be reached is said once in panel 2; sending never waits for it.
class ReportReading : public QObject
{
    Q_OBJECT
public:
    ReportReading(Store& store, Dispatcher& dispatcher, DispatcherView& view, SecretStore* secrets = nullptr,
                  MailboxWatchTimings timings = {}, QObject* parent = nullptr);

    // Looks now and then every few minutes; with no mailbox set each look does nothing.
    void start() { m_watch.start(); }
    void stop() { m_watch.stop(); }

private:
    OAuthTokenSource m_tokens;
    ReportFiling m_filing;
    MailboxWatch m_watch;
};

} // namespace kadmel
