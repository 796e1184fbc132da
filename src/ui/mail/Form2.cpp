#include "ui/mail/Form2.h"

#include "store/Ansi.h"
#include "ui/ScreenRoom.h"
#include "ui/mail/MailFonts.h"
#include "ui/mail/ViewerText.h"

#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTabBar>
#include <QTextCursor>
#include <QTextEdit>
#include <algorithm>

namespace kadmel {
namespace {

constexpr QSize DesignInnerSize(557, 566); // 8355 x 8490 twips
constexpr QRect LabelRect(0, 0, 553, 89);  // 8295 x 1335 twips
const QColor ReceivedColour(130, 130, 130);
const QColor SentColour(255, 255, 255);
const QColor ConversationBackground(16, 24, 40);

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
      m_rtb(new QTextEdit(this)), m_save(new QPushButton(QStringLiteral("Als E-Mail-Datei speichern…"), this))
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

    resize(DesignInnerSize);
    layOut();
}

void Form2::showMail(const MailRecord& mail, qint16 id)
{
    setWindowTitle(QStringLiteral("Mail (ID=%1)").arg(id));
    m_id = id;
    m_label2->setText(displayText(viewerFieldNames()));
    m_header = displayText(viewerHeaderText(mail));
    m_label1->setToolTip(m_header); // a value longer than the window is read here whole
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
    const QRect header(LabelRect.topLeft(), QSize(std::max(LabelRect.width(), width()), LabelRect.height()));
    m_label1->setGeometry(header);
    m_label2->setGeometry(header);
    // One row per field; a value longer than the window ends in "…".
    const int rows = int(m_header.count(QLatin1Char('\n'))) + 1;
    m_label1->setText(fittedLines(m_header, m_label1->font(), std::min(header.width(), width()), rows));
    const ViewerGeometry geometry = viewerGeometry(size(), m_label1->height(), m_tabStrip->width());
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

} // namespace kadmel
