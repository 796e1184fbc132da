#pragma once

#include <QByteArray>

namespace kadmel {

// What the main window needs from the tray icon, the alert pop-up and the other windows
// (viewer, editor, About box). The main window works without them: then it is never in the tray.
class TrayHooks
{
public:
    virtual ~TrayHooks() = default;

    virtual bool inTray() const = 0;
    // "Minimieren": hide the main window into the tray.
    virtual void minimizeToTray() = 0;
    // Called whenever the service state changes, so the tooltip follows it.
    virtual void serviceStateChanged(bool active) = 0;
    // Stop is offered while the service is active or an "Alle Senden" run goes on; after serviceStateChanged.
    virtual void stopOffered(bool offered) = 0;
    // A run of several mails: its progress as a line of the tooltip (empty: none).
    virtual void runProgress(const QByteArray& text) = 0;

    virtual void showAlert(const QByteArray& text) = 0;
    virtual void setAlertText(const QByteArray& text) = 0;
    virtual void closeAlert() = 0;

    // At the exit: remove the tray icon and close every other window.
    virtual void removeTrayIcon() = 0;
    virtual void closeOtherWindows() = 0;
};

} // namespace kadmel
