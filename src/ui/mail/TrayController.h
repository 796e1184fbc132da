#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

class QAction;
class QMenu;
class QWidget;

namespace kadmel {

// "Kadmel Mail System v3.0", CR LF, "Status: Aktif" or "Status: Inaktif"; a run's progress on a line of its own.
QString trayTipText(bool active, const QString& progress = {});

// The main window's life in the notification area: "Minimieren" hides it behind a tray icon
// whose right-button menu starts, stops, restores and ends; "Öffnen" or a left click brings it back.
class TrayController : public QObject
{
    Q_OBJECT
public:
    enum Mode : qint16
    {
        WindowShown = 1,
        InTray = 2
    };

    // `trayAvailable` tells whether the desktop has a notification area (tests decide it).
    explicit TrayController(QWidget* window,
                            std::function<bool()> trayAvailable = &QSystemTrayIcon::isSystemTrayAvailable,
                            QObject* parent = nullptr);
    ~TrayController() override; // removes the icon, as at shutdown

    // Hides the window behind the tray icon; without a notification area it is minimised instead.
    void MinimizeToTray();
    // "Öffnen": the window shown again in its normal state, the icon gone.
    void restore();
    // The dispatcher's state changed: tooltip (when the icon is present) and the menu's Start/Stop.
    void UpdateTrayTip(bool active);
    void setStopEnabled(bool enabled);
    // A run's progress in the tooltip; empty: none.
    void setProgressText(const QString& text);

    qint16 TrayMode() const { return m_mode; }
    bool inTray() const { return m_mode == InTray; }
    QSystemTrayIcon* trayIcon() const { return m_icon.get(); } // present exactly while in the tray
    QMenu* trayMenu() const { return m_menu.get(); }

Q_SIGNALS:
    void startRequested();
    void stopRequested();
    void exitRequested(); // the window is to be closed, with its usual confirmation

private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);

    QPointer<QWidget> m_window;
    std::function<bool()> m_trayAvailable;
    qint16 m_mode = WindowShown;
    bool m_active = false;
    QString m_progress;
    std::unique_ptr<QMenu> m_menu;
    QAction* m_start;
    QAction* m_stop;
    std::unique_ptr<QSystemTrayIcon> m_icon;
};

} // namespace kadmel
