#include "ui/mail/Form3.h"

#include "ui/mail/MailFonts.h"
#include "ui/mail/MailPictures.h"

#include <QDesktopServices>
#include <QEvent>
#include <QLabel>
#include <QPainter>

namespace kadmel {
namespace {

constexpr QSize BoxSize(400, 252); // 6000 x 3780 twips
// Left, top and height as designed; wide enough for the whole address in the fixed-pitch font.
constexpr QRect WebLinkPlace(83, 200, 220, 17);
constexpr QRect MailLinkPlace(83, 211, 220, 17);

QLabel* linkLabel(QWidget* parent, const QString& name, const QRect& place)
{
    QLabel* label = placedLabel(parent, name, place, monospaceFont(), QColor(255, 0, 0));
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

} // namespace

LinkOpener desktopLinkOpener()
{
    return [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

QUrl aboutWebUrl()
{
    return QUrl(QStringLiteral("https://www.example.com/kadmel"));
}

QUrl aboutMailUrl()
{
    return QUrl(QStringLiteral("mailto:support@example.com?subject=Kadmel%20Mail%20System"));
}

Form3::Form3(LinkOpener openLink, int closeAfterMs, QWidget* parent)
    : QDialog(parent), m_openLink(std::move(openLink)),
      m_label1(linkLabel(this, QStringLiteral("Label1"), WebLinkPlace)),
      m_label2(linkLabel(this, QStringLiteral("Label2"), MailLinkPlace))
{
    initMailPictures();
    setWindowTitle(QStringLiteral("About"));
    setModal(true);
    setFixedSize(BoxSize);
    m_background = QPixmap(MailPicture::about());
    // Moves are followed everywhere: a leave alone can get lost when the box opens under the mouse.
    setMouseTracking(true);
    for (QLabel* label : {m_label1, m_label2}) {
        label->setMouseTracking(true);
        label->installEventFilter(this);
    }

    m_closeTimer.setSingleShot(true);
    m_closeTimer.setTimerType(Qt::PreciseTimer);
    m_closeTimer.setInterval(closeAfterMs);
    connect(&m_closeTimer, &QTimer::timeout, this, &QDialog::reject);
}

bool Form3::event(QEvent* event)
{
    // Counting starts when the box is shown and starts again when it first becomes active, so it
    // closes even where the desktop never activates it.
    if (event->type() == QEvent::Show) {
        m_closeTimer.start();
    } else if (event->type() == QEvent::WindowActivate && !m_becameActive) {
        m_becameActive = true;
        m_closeTimer.start();
    }
    return QDialog::event(event);
}

bool Form3::eventFilter(QObject* watched, QEvent* event)
{
    auto* label = qobject_cast<QLabel*>(watched);
    if (label == m_label1 || label == m_label2) {
        switch (event->type()) {
        case QEvent::Enter:
            showAddress(label);
            break;
        case QEvent::MouseMove:
            showAddress(label);
            return true; // the box itself would take it as a move over its picture
        case QEvent::Leave:
            showAddress(nullptr);
            break;
        case QEvent::MouseButtonPress:
            m_openLink(label == m_label1 ? aboutWebUrl() : aboutMailUrl());
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void Form3::mouseMoveEvent(QMouseEvent*)
{
    showAddress(nullptr);
}

void Form3::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(rect(), m_background);
}

void Form3::showAddress(QLabel* label)
{
    m_label1->setText(label == m_label1 ? aboutWebUrl().toString() : QString());
    m_label2->setText(label == m_label2 ? aboutMailUrl().path() : QString());
}

} // namespace kadmel
