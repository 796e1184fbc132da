#pragma once

#include <QByteArray>

namespace kadmel {

// How much a log line matters, as the journal ranks it.
enum class LogPriority
{
    Failure = 3,  // a mail or job that failed
    Warning = 4,  // a failure that is tried again, a limit reached
    Notice = 5,   // the service's own steps
    Delivery = 6, // a mail sent
};

// Writes one line on standard error, which the desktop session's journal (or systemd's, for the service)
// collects. With journal prefixes on, the line starts with its priority ("<3>"), which journald reads.
void writeLogLine(LogPriority priority, const QByteArray& line);

// Off unless a host started by systemd turns it on; the window's lines stay as they always were. On, Qt's own
// messages are written the same way.
void setJournalPrefixes(bool on);

} // namespace kadmel
