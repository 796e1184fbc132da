#include "ui/mail/TrayAlert.h"

#include "ui/mail/MailFonts.h"
#include "ui/mail/MailPictures.h"
#include "ui/mail/ViewerText.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>

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

QPoint alertPosition(QSize popupSize, const QRect& availableArea, const QRect& trayIcon)
{
    const QRect& area = availableArea;
    int left = area.x() + area.width() - popupSize.width();
    int top = area.y() + area.height() - popupSize.height();
    if (trayIcon.isValid()) {
        // Right-aligned with the icon, on the side of its panel that faces the screen's middle.
        left = trayIcon.x() + trayIcon.width() - popupSize.width();
        if (trayIcon.center().y() < area.center().y())
            top = trayIcon.y() + trayIcon.height();
        else
            top = trayIcon.y() - popupSize.height();
    }
    // Inside the available area, so neither the panel nor the icon is covered.
    left = std::min(left, area.x() + area.width() - popupSize.width());
    top = std::min(top, area.y() + area.height() - popupSize.height());
    return {std::max(left, area.x()), std::max(top, area.y())};
}

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
    m_msg->setWordWrap(true);
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
    m_msg->setText(displayText(text));
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

SysTrayAlert::SysTrayAlert(QObject* parent) : QObject(parent) {}

SysTrayAlert::~SysTrayAlert() = default;

frmSysTrayAlert* SysTrayAlert::popup() const
{
    return m_popup && m_popup->isVisible() ? m_popup.get() : nullptr;
}

void SysTrayAlert::ShowAlert(const QByteArray& text, const QRect& trayIcon)
{
    if (!m_popup)
        m_popup = std::make_unique<frmSysTrayAlert>();
    m_popup->setMessage(text);
    const QScreen* screen = trayIcon.isValid() ? QGuiApplication::screenAt(trayIcon.center()) : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
        m_popup->move(alertPosition(m_popup->size(), screen->availableGeometry(), trayIcon));
    m_popup->show();
    m_popup->raise();
}

void SysTrayAlert::SetAlertText(const QByteArray& text)
{
    if (popup())
        m_popup->setMessage(text);
}

void SysTrayAlert::CloseAlert()
{
    m_popup.reset();
}

} // namespace kadmel
