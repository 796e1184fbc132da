#pragma once

#include "ui/TrayHooks.h"
#include "ui/mail/Form2.h"
#include "ui/mail/Form3.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

namespace kadmel {

class Form1;
class SysTrayAlert;
class TrayController;

// The windows around the main window: the tray icon with its menu, the alert pop-up, the mail viewer
// for "Öffnen" and a double-click, and the About box. Each dialog is one instance, made when shown.
class ProgramWindows : public QObject, public TrayHooks
{
    Q_OBJECT
public:
    // `trayAvailable` tells whether the desktop has a notification area (tests decide it).
    explicit ProgramWindows(Form1& window, std::function<bool()> trayAvailable = {}, QObject* parent = nullptr);
    ~ProgramWindows() override;

    Form2* viewer() const { return m_viewer; }
    Form3* aboutBox() const { return m_about; }
    TrayController& tray() { return *m_tray; }

    // A second start asked for the program: the window comes back from the tray or the task bar, in front.
    void bringToFront();

    bool inTray() const override;
    void minimizeToTray() override;
    void serviceStateChanged(bool active) override;
    void stopOffered(bool offered) override;
    void runProgress(const QByteArray& text) override;
    void showAlert(const QByteArray& text) override;
    void setAlertText(const QByteArray& text) override;
    void closeAlert() override;
    void removeTrayIcon() override;
    void closeOtherWindows() override;

private:
    void openMail(int folder);
    void openAbout();

    Form1& m_window;
    std::unique_ptr<TrayController> m_tray;
    std::unique_ptr<SysTrayAlert> m_alert;
    QPointer<Form2> m_viewer;
    QPointer<Form3> m_about;
};

} // namespace kadmel
