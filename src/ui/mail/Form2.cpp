#include "ui/mail/Form2.h"

#include "engine/ByteText.h"
#include "store/Ansi.h"
#include "ui/ScreenRoom.h"
#include "ui/mail/AttachmentText.h"
#include "ui/mail/MailFonts.h"
#include "ui/mail/ViewerText.h"

#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTabBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QTreeWidget>
#include <algorithm>

namespace kadmel {
namespace {

constexpr QSize DesignInnerSize(557, 566); // 8355 x 8490 twips
constexpr QRect LabelRect(0, 0, 553, 89);  // 8295 x 1335 twips
constexpr int HeaderMargin = 6;            // clear of the window's left edge
// Both above 7 : 1 on the conversation's own dark ground, whatever the desktop's scheme.
const QColor ReceivedColour(170, 200, 235);
const QColor SentColour(255, 255, 255);
const QColor ConversationBackground(16, 24, 40);
constexpr int AttachmentRowsShown = 3; // more scroll

QLabel* headerLabel(QWidget* parent, const QString& name, const QColor& colour)
{
    return placedLabel(parent, name, LabelRect, labelFont(true), colour);
}

} // namespace

Form2::Form2(QWidget* parent)
    : QDialog(parent), m_label2(headerLabel(this, QStringLiteral("Label2"), palette().color(QPalette::WindowText))),
      m_label1(headerLabel(this, QStringLiteral("Label1"),
                           readableOn(palette().color(QPalette::Window), QColor(0, 0, 192), QColor(140, 170, 255)))),
      m_tabStrip(new QFrame(this)), m_tabBar(new QTabBar(m_tabStrip)), m_text1(new QPlainTextEdit(this)),
      m_rtb(new QTextEdit(this)), m_save(new QPushButton(QStringLiteral("Als E-Mail-Datei speichern…"), this)),
      m_attachments(new QTreeWidget(this)), m_saveAttachment(new QPushButton(QStringLiteral("Anhang speichern…"), this))
{
    setWindowTitle(QStringLiteral("Mail"));
    setModal(true);
    setSizeGripEnabled(true);
    m_label1->raise(); // Label1 lies on top of Label2

    m_tabStrip->setObjectName(QStringLiteral("TabStrip1"));
    m_tabStrip->setFrameShape(QFrame::StyledPanel);
    m_tabBar->setObjectName(QStringLiteral("TabBar"));
    m_tabBar->setShape(QTabBar::RoundedSouth);
    m_tabBar->setDrawBase(false);
    m_tabBar->addTab(QStringLiteral("Versandinhalt"));
    m_tabBar->addTab(QStringLiteral("Versandablauf"));
    connect(m_tabBar, &QTabBar::currentChanged, this, &Form2::selectTab);

    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setReadOnly(true);
    m_text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_text1->setFont(monospaceFont());
    // The mail reads black on white, whatever colours the desktop gives other windows.
    QPalette paper = m_text1->palette();
    paper.setColor(QPalette::Base, Qt::white);
    paper.setColor(QPalette::Text, Qt::black);
    m_text1->setPalette(paper);

    m_rtb->setObjectName(QStringLiteral("RTB"));
    m_rtb->setReadOnly(true);
    m_rtb->setLineWrapMode(QTextEdit::NoWrap);
    m_rtb->setFont(monospaceFont());
    QPalette dark = m_rtb->palette();
    dark.setColor(QPalette::Base, ConversationBackground);
    dark.setColor(QPalette::Text, SentColour);
    m_rtb->setPalette(dark);
    m_rtb->hide();

    m_save->setObjectName(QStringLiteral("SaveAs"));
    m_save->setAutoDefault(false);
    connect(m_save, &QPushButton::clicked, this, [this] { Q_EMIT saveRequested(m_id); });

    m_attachments->setObjectName(QStringLiteral("Attachments"));
    m_attachments->setFont(labelFont(false));
    m_attachments->setRootIsDecorated(false);
    m_attachments->setHeaderLabels({QStringLiteral("Anhang"), QStringLiteral("Größe"), QStringLiteral("Typ")});
    m_attachments->header()->setStretchLastSection(false);
    m_attachments->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_attachments->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_attachments->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    m_attachments->hide();
    connect(m_attachments, &QTreeWidget::itemDoubleClicked, this, &Form2::requestAttachmentSave);
    m_saveAttachment->setObjectName(QStringLiteral("SaveAttachment"));
    m_saveAttachment->setAutoDefault(false);
    m_saveAttachment->hide();
    connect(m_saveAttachment, &QPushButton::clicked, this, &Form2::requestAttachmentSave);

    resize(DesignInnerSize);
    layOut();
}

void Form2::showMail(const MailRecord& mail, qint16 id, const QList<AttachmentInfo>& attachments)
{
    setWindowTitle(QStringLiteral("Mail (ID=%1)").arg(id));
    m_id = id;
    m_label2->setText(displayText(viewerFieldNames()));
    m_header = displayText(viewerHeaderText(mail));
    m_label1->setToolTip(m_header); // a value longer than the window is read here whole
    m_attachments->clear();
    for (const AttachmentInfo& attachment : attachments) {
        auto* item =
            new QTreeWidgetItem(m_attachments, {fromAnsi(attachment.name), fromAnsi(FormatByteSize(attachment.size)),
                                                attachmentTypeText(attachment.type)});
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setToolTip(0, attachmentLine(attachment));
    }
    if (!attachments.isEmpty())
        m_attachments->setCurrentItem(m_attachments->topLevelItem(0));
    m_attachments->setVisible(!attachments.isEmpty());
    m_saveAttachment->setVisible(!attachments.isEmpty());
    layOut();
    m_text1->setPlainText(displayText(mail.Body));
    m_rtb->clear();
    for (const ConversationRun& run : conversationRuns(mail.Log))
        PrintText(run.text, run.received ? 1 : 2);
    m_rtb->moveCursor(QTextCursor::Start);
}

void Form2::PrintText(const QByteArray& sData, qint16 CSNo)
{
    QTextCursor cursor(m_rtb->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(CSNo == 1 ? ReceivedColour : SentColour);
    cursor.insertText(displayText(sData), format);
}

void Form2::selectTab(int index)
{
    if (index != 0 && index != 1)
        return;
    if (m_tabBar->currentIndex() != index)
        m_tabBar->setCurrentIndex(index); // comes back here through currentChanged
    m_text1->setVisible(index == 0);
    m_rtb->setVisible(index == 1);
}

void Form2::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    keepOnScreen(*this, size()); // with a large scale factor the design size may be more than the screen
}

void Form2::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    layOut();
}

void Form2::layOut()
{
    // The header lines widen with the window, so a long value shows as far as the window allows.
    // One row per field and one more, so that a long Status reply wraps once before it ends in "…".
    const int rows = int(m_header.count(QLatin1Char('\n'))) + 2;
    const QString fitted = fittedLines(m_header, m_label1->font(), std::max(0, width() - 2 * HeaderMargin), rows);
    const int lineHeight = QFontMetrics(m_label1->font()).lineSpacing();
    const int shownRows = int(fitted.count(QLatin1Char('\n'))) + 1;
    const QRect header(HeaderMargin, LabelRect.y(), std::max(LabelRect.width(), width()) - HeaderMargin,
                       std::max(LabelRect.height(), shownRows * lineHeight + lineHeight / 2));
    m_label1->setGeometry(header);
    m_label2->setGeometry(header);
    m_label1->setText(fitted);
    // The attachments, when there are any, push the tabs down by their list's height.
    int headHeight = m_label1->height();
    if (const int count = m_attachments->topLevelItemCount(); count > 0) {
        const QMargins frame = m_attachments->contentsMargins();
        const int rowHeight = std::max(m_attachments->sizeHintForRow(0), m_attachments->fontMetrics().height());
        const int listHeight = m_attachments->header()->sizeHint().height() +
                               std::min(count, AttachmentRowsShown) * rowHeight + frame.top() + frame.bottom();
        m_saveAttachment->adjustSize();
        const int listWidth = std::max(0, width() - m_saveAttachment->width() - 12);
        m_attachments->setGeometry(4, headHeight, listWidth, listHeight);
        m_saveAttachment->move(listWidth + 8, headHeight);
        headHeight += listHeight + 4;
    }
    const ViewerGeometry geometry = viewerGeometry(size(), headHeight, m_tabStrip->width());
    if (geometry.tabStrip) {
        m_tabStrip->setGeometry(*geometry.tabStrip);
        const int barHeight = m_tabBar->sizeHint().height();
        // The tabs leave the right end of their row to the save button.
        m_save->adjustSize();
        m_tabBar->setGeometry(0, std::max(0, geometry.tabStrip->height() - barHeight),
                              std::max(0, geometry.tabStrip->width() - m_save->width() - 8), barHeight);
    }
    if (geometry.view) {
        m_text1->setGeometry(*geometry.view);
        m_rtb->setGeometry(*geometry.view);
    }
    const QRect strip = m_tabStrip->geometry();
    m_save->move(std::max(0, strip.right() - m_save->width() - 4),
                 std::max(0, strip.bottom() - (m_tabBar->height() + m_save->height()) / 2));
    m_save->raise();
}

void Form2::requestAttachmentSave()
{
    const int index = m_attachments->indexOfTopLevelItem(m_attachments->currentItem());
    if (index >= 0)
        Q_EMIT attachmentSaveRequested(m_id, index);
}

} // namespace kadmel
