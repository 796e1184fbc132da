#include "ui/mail/ViewerText.h"

#include "engine/FailureReason.h"
#include "store/Ansi.h"
#include "store/MailExtras.h"

#include <QFontMetrics>
#include <QTextLayout>
#include <array>

namespace kadmel {
namespace {

// Field names in Windows-1252 ("\xF6" is "ö").
constexpr std::array<const char*, 6> FieldNames = {"Absender: ",
                                                   "An: ",
                                                   "Betreff: ",
                                                   "Datum/Zeit: ",
                                                   "Gr\xF6\xDF"
                                                   "e: ",
                                                   "Status: "};

// The layout's margins in pixels (15 twips each). The window's own formulas start from the outer
// size; the frame allowances turn our inner size back into that.
constexpr int FrameWidth = 9;    // 135 twips
constexpr int FrameHeight = 31;  // 465 twips
constexpr int ViewMargin = 4;    // 60 twips
constexpr int TabRowHeight = 52; // 780 twips: the tab row below the views and the strip's border

} // namespace

QList<ConversationRun> conversationRuns(const SmtpLog& log)
{
    QList<ConversationRun> runs;
    for (qsizetype i = 0; i < log.Sent.size(); ++i) {
        const QByteArray received = i < log.Received.size() ? log.Received.at(i) : QByteArray();
        if (!received.isEmpty())
            runs.append({received, true});
        if (!log.Sent.at(i).isEmpty())
            runs.append({log.Sent.at(i), false});
    }
    return runs;
}

QByteArray viewerFieldNames()
{
    QByteArray text;
    for (const char* name : FieldNames) {
        if (!text.isEmpty())
            text += "\r\n";
        text += name;
    }
    return text;
}

QByteArray viewerHeaderText(const MailRecord& mail)
{
    // When the job came in stands beside the last attempt's time, on the same line: the header keeps its six.
    const QByteArray entered = extrasOf(mail).entered;
    const std::array<QByteArray, 6> values = {fieldValue(mail.From),
                                              fieldValue(mail.To),
                                              fieldValue(mail.Subject),
                                              mail.Date +
                                                  (entered.isEmpty() ? QByteArray() : "    Eingang: " + entered),
                                              mail.Size,
                                              resultTextWithReason(mail)};
    QByteArray text;
    for (std::size_t i = 0; i < FieldNames.size(); ++i) {
        if (i > 0)
            text += "\r\n";
        text += FieldNames[i];
        text += values[i];
    }
    return text;
}

ViewerGeometry viewerGeometry(QSize innerSize, int labelHeight, int currentTabStripWidth)
{
    const int outerWidth = innerSize.width() + FrameWidth;
    const int outerHeight = innerSize.height() + FrameHeight;
    ViewerGeometry geometry;

    const int tabWidth = outerWidth - FrameWidth;
    const int tabHeight = outerHeight - labelHeight - FrameHeight;
    if (tabWidth >= 0 && tabHeight >= 0)
        geometry.tabStrip = QRect(0, labelHeight, tabWidth, tabHeight); // 1335 twips below the header

    const int viewWidth = (geometry.tabStrip ? tabWidth : currentTabStripWidth) - 2 * ViewMargin;
    const int viewHeight = outerHeight - labelHeight - 2 * ViewMargin - TabRowHeight;
    if (viewWidth >= 0 && viewHeight >= 0)
        geometry.view = QRect(ViewMargin, labelHeight + ViewMargin, viewWidth, viewHeight);
    return geometry;
}

QString displayText(const QByteArray& ansi)
{
    QByteArray text = ansi;
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    return fromAnsi(text);
}

QString fittedLines(const QString& text, const QFont& font, int width, int rows)
{
    const QFontMetrics metrics(font);
    const QStringList lines = text.split(QLatin1Char('\n'));
    QTextOption wrap;
    wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QStringList shown;
    for (qsizetype i = 0; i < lines.size() && shown.size() < rows; ++i) {
        const QString& line = lines.at(i);
        const int own = std::max<int>(1, rows - int(shown.size()) - int(lines.size() - 1 - i));
        const qsizetype before = shown.size();
        QTextLayout layout(line, font);
        layout.setTextOption(wrap);
        layout.beginLayout();
        for (int taken = 0; taken < own; ++taken) {
            QTextLine row = layout.createLine();
            if (!row.isValid())
                break;
            row.setLineWidth(width);
            const QString rest = line.mid(row.textStart());
            if (taken == own - 1 || row.textStart() + row.textLength() >= line.size()) {
                shown << metrics.elidedText(rest, Qt::ElideRight, width); // unchanged when it fits
                break;
            }
            shown << rest.left(row.textLength()).trimmed();
        }
        layout.endLayout();
        if (shown.size() == before) // an empty line keeps its row
            shown << QString();
    }
    return shown.join(QLatin1Char('\n'));
}

} // namespace kadmel
