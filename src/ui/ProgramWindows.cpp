#include "ui/ProgramWindows.h"

#include "store/Ansi.h"
#include "store/Store.h"
#include "ui/Form1.h"
#include "ui/mail/Form2.h"
#include "ui/mail/Form3.h"
#include "ui/mail/SysTrayAlert.h"
#include "ui/mail/TrayController.h"

#include <QSystemTrayIcon>

namespace kadmel {

ProgramWindows::ProgramWindows(Form1& window, std::function<bool()> trayAvailable, QObject* parent)
    : QObject(parent), m_window(window),
      m_tray(std::make_unique<TrayController>(
          &window,
          trayAvailable ? std::move(trayAvailable) : std::function<bool()>(&QSystemTrayIcon::isSystemTrayAvailable))),
      m_alert(std::make_unique<SysTrayAlert>())
{
    connect(m_tray.get(), &TrayController::startRequested, &window, [this] {
        if (m_window.dispatcher())
            m_window.dispatcher()->StartProcessing();
    });
    connect(m_tray.get(), &TrayController::stopRequested, &window, [this] {
        if (m_window.dispatcher())
            m_window.dispatcher()->StopProcessing();
    });
    connect(m_tray.get(), &TrayController::exitRequested, &window, &QWidget::close);
    connect(&window, &Form1::openMailRequested, this, &ProgramWindows::openMail);
    connect(&window, &Form1::aboutRequested, this, &ProgramWindows::openAbout);
    window.setTrayHooks(this);
}

ProgramWindows::~ProgramWindows()
{
    m_window.setTrayHooks(nullptr);
    closeOtherWindows();
}

void ProgramWindows::bringToFront()
{
    if (inTray()) {
        m_tray->restore();
        return;
    }
    m_window.setWindowState(m_window.windowState() & ~Qt::WindowMinimized);
    m_window.show();
    m_window.raise();
    m_window.activateWindow();
}

bool ProgramWindows::inTray() const
{
    return m_tray && m_tray->inTray();
}

void ProgramWindows::minimizeToTray()
{
    if (m_tray)
        m_tray->MinimizeToTray();
}

void ProgramWindows::serviceStateChanged(bool active)
{
    if (m_tray)
        m_tray->UpdateTrayTip(active);
}

void ProgramWindows::stopOffered(bool offered)
{
    if (m_tray)
        m_tray->setStopEnabled(offered);
}

void ProgramWindows::runProgress(const QByteArray& text)
{
    if (m_tray)
        m_tray->setProgressText(fromAnsi(text));
}

void ProgramWindows::showAlert(const QByteArray& text)
{
    // The icon's place where the desktop tells it; an empty rectangle otherwise.
    const QSystemTrayIcon* icon = m_tray ? m_tray->trayIcon() : nullptr;
    m_alert->ShowAlert(text, icon ? icon->geometry() : QRect());
}

void ProgramWindows::setAlertText(const QByteArray& text)
{
    m_alert->SetAlertText(text);
}

void ProgramWindows::closeAlert()
{
    m_alert->CloseAlert();
}

void ProgramWindows::removeTrayIcon()
{
    // The exit may come from the tray menu itself, so the controller goes later; its icon goes now.
    if (!m_tray)
        return;
    if (QSystemTrayIcon* icon = m_tray->trayIcon())
        icon->hide();
    m_tray.release()->deleteLater();
}

void ProgramWindows::closeOtherWindows()
{
    if (m_viewer)
        m_viewer->close();
    if (m_about)
        m_about->close();
    m_alert->CloseAlert();
}

void ProgramWindows::openMail(int folder)
{
    const qint16 id = m_window.selectedId(folder);
    const MailTables& tables = m_window.store().tables();
    if (id < 1 || id > tables.MailCount())
        return;
    delete m_viewer;
    m_viewer = new Form2(&m_window);
    m_viewer->setAttribute(Qt::WA_DeleteOnClose);
    m_viewer->setWindowModality(Qt::ApplicationModal);
    m_viewer->showMail(tables.mail(id), id, attachmentsOf(m_window.store().programFolder(), tables.mail(id)));
    connect(m_viewer, &Form2::saveRequested, this, [this](qint16 shown) { m_window.saveMailAsFile(shown, m_viewer); });
    connect(m_viewer, &Form2::attachmentSaveRequested, this,
            [this](qint16 shown, int index) { m_window.saveAttachment(shown, index, m_viewer); });
    m_viewer->show();
}

void ProgramWindows::openAbout()
{
    if (m_about) {
        m_about->raise();
        return;
    }
    m_about = new Form3(desktopLinkOpener(), Form3::CloseAfterMs, &m_window);
    m_about->setAttribute(Qt::WA_DeleteOnClose);
    m_about->setWindowModality(Qt::ApplicationModal);
    m_about->show();
}

} // namespace kadmel
