#pragma once

#include "store/IniFile.h"

#include <QByteArray>
#include <QString>

namespace kadmel {

// The section [Rueckmeldungen] of "kadmel.ini": the mailbox whose inbox is read for delivery reports
// ("Postfach=<IMAP-Server>:<Port>") and the folder a report of ours is moved to ("Verschieben"). Without a
// server nothing is read and nothing connects.
struct ReportMailbox
{
    QByteArray host;
    quint16 port = 0;
    QByteArray moveTo = {}; // empty: the mailbox is only read, never changed

    bool isSet() const { return !host.isEmpty(); }
    friend bool operator==(const ReportMailbox&, const ReportMailbox&) = default;
};

inline constexpr quint16 ImapsPort = 993;

// The section's mailbox. A value that names no server and port (1 to 65535) gives none and a German reason;
// a missing or empty Postfach gives none and no reason.
ReportMailbox readReportMailbox(const IniSection& section, QString* problem);

} // namespace kadmel
