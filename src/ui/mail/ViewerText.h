#pragma once

#include "store/MailRecord.h"

#include <QByteArray>
#include <QFont>
#include <QList>
#include <QRect>
#include <QString>
#include <optional>

namespace kadmel {

// One text of the SMTP conversation as the viewer shows it.
struct ConversationRun
{
    QByteArray text;
    bool received = false; // grey when received from the server, white when sent

    friend bool operator==(const ConversationRun&, const ConversationRun&) = default;
};

// Received and sent texts alternately, one pair per element of Log.Sent, starting with the greeting.
// A received text missing at an index (Received shorter than Sent) counts as empty; empty texts are
// left out, since they show nothing.
QList<ConversationRun> conversationRuns(const SmtpLog& log);

// The header: the six field names alone (Label2), and with the record's values (Label1).
// Lines are joined by CR LF, with none after the last; a failed mail's status carries the server's reply, and
// the date line the time the job came in, where the record keeps it.
QByteArray viewerFieldNames();
QByteArray viewerHeaderText(const MailRecord& mail);

// Where the tab strip and the two views go for a window of the given inner size (pixels), below a header
// of labelHeight (the labels' 1335 twips, and an attachment list's height where there is one).
// A control whose size would come out negative is left where it was (nullopt); the views then
// take their width from the tab strip's current width.
struct ViewerGeometry
{
    std::optional<QRect> tabStrip;
    std::optional<QRect> view; // Text1 and RTB alike
};
ViewerGeometry viewerGeometry(QSize innerSize, int labelHeight, int currentTabStripWidth);

// Texts with CR LF or CR line ends, as a text view wants them (LF only).
QString displayText(const QByteArray& ansi);

// The text's lines in at most `rows` rows of `width` pixels: every line keeps a row of its own, a long
// one wraps over the rows the others leave, and what still does not fit ends its last row with "…".
QString fittedLines(const QString& text, const QFont& font, int width, int rows);

} // namespace kadmel
