#include "ui/mail/frmSysTrayAlert.h"

#include "ui/mail/MailFonts.h"
#include "ui/mail/MailPictures.h"
#include "ui/mail/ViewerText.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

namespace kadmel {
namespace {

constexpr QSize PopupSize(260, 96);
constexpr QRect CloseButtonPlace(240, 5, 14, 14);
const QColor TitleColour(18, 36, 92);

QLabel* textLabel(QWidget* parent, const QString& name, const QRect& place, const QColor& colour, bool bold)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setGeometry(place);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFont(labelFont(bold));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

QLabel* picture(QWidget* parent, const QString& name, const QString& path)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setGeometry(CloseButtonPlace);
    label->setPixmap(QPixmap(path));
    return label;
}

} // namespace

frmSysTrayAlert::frmSysTrayAlert(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_label1(textLabel(this, QStringLiteral("Label1"), QRect(8, 4, 220, 17), Qt::white, true)),
      m_msg(textLabel(this, QStringLiteral("Msg"), QRect(8, 30, 244, 60), Qt::black, false)), m_image1(nullptr),
      m_image2(nullptr), m_label2(new QLabel(this))
{
    initMailPictures();
    setObjectName(QStringLiteral("frmSysTrayAlert"));
    setWindowTitle(QStringLiteral("Kadmel Mail System"));
    setAttribute(Qt::WA_ShowWithoutActivating); // announcing a mail must not take the keyboard away
    setFixedSize(PopupSize);

    m_label1->setText(QStringLiteral("Kadmel Mail System"));
    m_msg->setText(QStringLiteral("E-Mail wird gesendet..."));

    m_image1 = picture(this, QStringLiteral("Image1"), MailPicture::close());
    m_image2 = picture(this, QStringLiteral("Image2"), MailPicture::closePressed());
    m_image2->hide();
    // Label2 lies over both pictures and takes their mouse events.
    m_label2->setObjectName(QStringLiteral("Label2"));
    m_label2->setGeometry(CloseButtonPlace);
    m_label2->setCursor(Qt::PointingHandCursor);
    m_label2->setMouseTracking(true);
    m_label2->installEventFilter(this);
    m_label2->raise();
}

void frmSysTrayAlert::setMessage(const QByteArray& text)
{
    // Each line ("An:" too) in rows of its own, a long one cut with "…" rather than at the label's edge.
    const QString whole = displayText(text);
    const int rows = m_msg->height() / QFontMetrics(m_msg->font()).lineSpacing();
    m_msg->setText(fittedLines(whole, m_msg->font(), m_msg->width(), rows));
    m_msg->setToolTip(whole);
}

bool frmSysTrayAlert::closePressedShown() const
{
    return !m_image2->isHidden();
}

bool frmSysTrayAlert::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_label2)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const bool inside = m_label2->rect().contains(mouse->position().toPoint());
        showPressed(inside && (mouse->buttons() & Qt::LeftButton));
        return true;
    }
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        showPressed(false);
        if (mouse->button() == Qt::LeftButton && m_label2->rect().contains(mouse->position().toPoint()))
            close();
        return true;
    }
    case QEvent::Leave:
        showPressed(false);
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void frmSysTrayAlert::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(255, 255, 230));
    painter.fillRect(QRect(0, 0, width(), 24), TitleColour);
    painter.setPen(TitleColour);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void frmSysTrayAlert::showPressed(bool pressed)
{
    m_image1->setVisible(!pressed);
    m_image2->setVisible(pressed);
}

} // namespace kadmel
