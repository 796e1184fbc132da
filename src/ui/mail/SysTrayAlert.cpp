#include "ui/mail/SysTrayAlert.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

namespace kadmel {

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

SysTrayAlert::SysTrayAlert(QObject* parent) : QObject(parent) {}

SysTrayAlert::~SysTrayAlert() = default;

frmSysTrayAlert* SysTrayAlert::popup() const
{
    return m_popup && m_popup->isVisible() ? m_popup.get() : nullptr;
}

void SysTrayAlert::ShowAlert(const QByteArray& text, const QRect& trayIcon)
{
    // The first line says what happens, the others which mail ("Betreff:", "An:"); its "(ID n)" ends the first.
    const qsizetype lineEnd = text.indexOf("\r\n");
    const QByteArray first = text.left(lineEnd);
    const qsizetype id = first.lastIndexOf("(ID ");
    m_mailId = id >= 0 && first.endsWith(')') ? first.mid(id) : QByteArray();
    m_mailLines = lineEnd < 0 ? QByteArray() : text.mid(lineEnd);
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
    if (!popup())
        return;
    // A one-line outcome keeps naming the mail the pop-up was opened for.
    if (text.contains('\n') || text.contains('\r'))
        return m_popup->setMessage(text);
    m_popup->setMessage(text + (m_mailId.isEmpty() ? QByteArray() : "  " + m_mailId) + m_mailLines);
}

void SysTrayAlert::CloseAlert()
{
    m_popup.reset();
}

} // namespace kadmel
