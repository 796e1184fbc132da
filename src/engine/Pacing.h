#pragma once

#include "engine/SendPace.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace kadmel {

class Store;

// Paced sending as the dispatcher keeps it: the limits of kadmel.ini and the window of the account that sends
// now, kept in kadmel.pace so that a restart cannot exceed the day's limit. Times are the wall clock's.
class Pacing
{
public:
    // Reads the limits and the file; a damaged file's reason is kept for takeLoadProblem().
    explicit Pacing(Store& store);

    // The limits of kadmel.ini again (whenever it changed).
    void update();
    bool isSet() const { return m_pace.limits().isSet(); }
    // Milliseconds until the next mail may go; 0 at once, and always without pacing.
    qint64 waitMs();
    // A mail goes to the server now: counted and saved before it goes. A save that fails is said once; empty
    // otherwise.
    QString count();
    // When `more` mails after the one in hand will have gone, each taking perMailMs at least.
    QDateTime expectedEnd(int more, qint64 perMailMs);
    // When the oldest mail still counted leaves the day's window: what a server's "daily limit" waits for.
    std::optional<QDateTime> dayFrees() const;
    QString takeLoadProblem();

private:
    // Another account in the settings starts a window of its own.
    void followAccount();

    Store& m_store;
    SendPace m_pace;
    QByteArray m_server, m_user;
    bool m_fileHasTimes = false;
    QString m_loadProblem, m_saveProblem;
};

// "3 von 120, fertig etwa um 14:35" (another day: "am 09.12. um 14:35"); `end` and `now` local.
QByteArray progressText(int done, int total, const QDateTime& end, const QDateTime& now);

} // namespace kadmel
