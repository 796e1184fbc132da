#include "ui/mail/TrayController.h"

#include "ui/mail/MailPictures.h"

#include <QCursor>
#include <QIcon>
#include <QMenu>
#include <QWidget>

namespace kadmel {

QString trayTipText(bool active, const QString& progress)
{
    return QStringLiteral("Kadmel Mail System v3.0\r\nStatus: ") +
           (active ? QStringLiteral("Aktif") : QStringLiteral("Inaktif")) +
           (progress.isEmpty() ? QString() : QStringLiteral("\r\n") + progress);
}

TrayController::TrayController(QWidget* window, std::function<bool()> trayAvailable, QObject* parent)
    : QObject(parent), m_window(window), m_trayAvailable(std::move(trayAvailable)), m_menu(std::make_unique<QMenu>())
{
    initMailPictures();
    m_menu->setObjectName(QStringLiteral("Mnu_Tray"));
    m_start = m_menu->addAction(QStringLiteral("Start"));
    m_start->setObjectName(QStringLiteral("Mnu_Tray_Start"));
    m_stop = m_menu->addAction(QStringLiteral("Stop"));
    m_stop->setObjectName(QStringLiteral("Mnu_Tray_Stop"));
    m_menu->addSeparator()->setObjectName(QStringLiteral("Mnu_Tray_Seperator"));
    QAction* show = m_menu->addAction(QStringLiteral("\u00D6ffnen"));
    show->setObjectName(QStringLiteral("Mnu_Tray_Show"));
    QAction* exit = m_menu->addAction(QStringLiteral("Beenden"));
    exit->setObjectName(QStringLiteral("Mnu_Tray_Exit"));
    UpdateTrayTip(false);

    connect(m_start, &QAction::triggered, this, &TrayController::startRequested);
    connect(m_stop, &QAction::triggered, this, &TrayController::stopRequested);
    connect(show, &QAction::triggered, this, &TrayController::restore);
    connect(exit, &QAction::triggered, this, &TrayController::exitRequested);
}

TrayController::~TrayController() = default;

void TrayController::MinimizeToTray()
{
    if (!m_window)
        return;
    if (!m_trayAvailable()) {
        // Hidden without a tray icon it could never come back: use the task bar.
        m_window->showMinimized();
        return;
    }
    if (!m_icon) {
        QIcon icon = m_window->windowIcon();
        if (icon.isNull())
            icon = QIcon(MailPicture::envelope());
        m_icon = std::make_unique<QSystemTrayIcon>(icon);
        // The menu is opened by hand on the right button only: a context menu set on the icon
        // would open on a left click too on some desktops.
        connect(m_icon.get(), &QSystemTrayIcon::activated, this, &TrayController::onActivated);
    }
    m_icon->setToolTip(trayTipText(m_active, m_progress));
    m_window->hide();
    m_icon->show();
    m_mode = InTray;
}

void TrayController::restore()
{
    if (m_window) {
        m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
        m_window->show();
        m_window->raise();
        m_window->activateWindow();
    }
    m_menu->hide();
    m_icon.reset();
    m_mode = WindowShown;
}

void TrayController::UpdateTrayTip(bool active)
{
    m_active = active;
    m_start->setEnabled(!active);
    m_stop->setEnabled(active);
    if (m_icon)
        m_icon->setToolTip(trayTipText(active, m_progress));
}

void TrayController::setProgressText(const QString& text)
{
    m_progress = text;
    if (m_icon)
        m_icon->setToolTip(trayTipText(m_active, m_progress));
}

void TrayController::setStopEnabled(bool enabled)
{
    m_stop->setEnabled(enabled);
}

void TrayController::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    // The right button opens the menu over the hidden window; a menu popped up at the cursor closes on
    // its own when the user clicks elsewhere. A left click restores the window, once the icon's own
    // signal has returned, since restoring deletes the icon.
    if (reason == QSystemTrayIcon::Context)
        m_menu->popup(QCursor::pos());
    else if (reason == QSystemTrayIcon::Trigger)
        QMetaObject::invokeMethod(this, &TrayController::restore, Qt::QueuedConnection);
}

} // namespace kadmel
