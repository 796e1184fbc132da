#pragma once

#include "engine/DispatcherView.h"
#include "engine/OffThread.h"
#include "store/Store.h"

#include <QObject>
#include <QTimer>

#include <functional>

namespace kadmel {

// The opt-in archive of "[Archiv] Ordner": a copy of every message a server accepted. A copy the archive
// cannot take waits beside the store and is tried again every `retryMs` and at the next start, so nothing
// accepted goes missing from the archive unnoticed.
class MailArchive : public QObject
{
public:
    MailArchive(Store& store, DispatcherView& view, int retryMs, QObject* parent = nullptr);

    // Archives the message as it went out (nothing without an archive); `then` gets the German problem, empty
    // when the copy is in the archive. Written beside the window's thread when `beside`.
    void keep(const QByteArray& message, const QByteArray& subject, bool beside, std::function<void(QString)> then);

private:
    QString root();
    // The waiting copies into the archive; a failure is said only when `sayFailure`.
    void catchUp(bool sayFailure);

    Store& m_store;
    DispatcherView& m_view;
    QTimer m_retry;
    bool m_waiting = false; // copies wait beside the store
    QString m_notice;       // what keeps files of the waiting folder out of the archive, said once
    OffThread m_worker;     // last: destroyed first, it waits for a copy still being written
};

} // namespace kadmel
