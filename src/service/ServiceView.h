#pragma once

#include "engine/DispatcherView.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <functional>

namespace kadmel {

// What the engine last showed, kept for a program without a window: the service answers the command line's
// questions from it. Texts are Windows-1252 bytes, as the engine gives them.
struct ServiceStatus
{
    bool active = false;
    bool idle = true;
    QByteArray message;     // panel 2's last text
    QByteArray runProgress; // "3 von 120, fertig etwa um 14:35", empty when no run goes on
    QMap<qint16, QDateTime> retryTimes;
    QByteArray alert;     // the last alert's text, empty once it was closed
    QString startRefusal; // why the last Start was refused, empty when it was not
};

// The engine's view without widgets: it keeps the state and calls `changed` after each change, so a host can
// log or tell it on. It is never in the tray: alerts are kept, not shown.
class ServiceView : public DispatcherView
{
public:
    const ServiceStatus& status() const { return m_status; }
    // Called after each change of the status (from the engine's own calls, on its thread).
    void setChanged(std::function<void()> changed) { m_changed = std::move(changed); }

    void setServiceState(bool active) override;
    void setMessage(const QByteArray& text) override;
    void setMessagePicture(MessagePicture) override {}
    void placeProgressBar() override {}
    void SetPBValue(qint32, qint32, qint16) override {}
    void mailChanged(const MailChange&) override { changed(); }
    void foldersRenumbered() override { changed(); }
    void setRetryTimes(const QMap<qint16, QDateTime>& nextAttempts) override;
    void setRunProgress(const QByteArray& text) override;
    void setIdle(bool idle) override;
    void startRefused(StartCheck check, const QString& reason) override;
    bool inTray() const override { return false; }
    void ShowAlert(const QByteArray& text) override;
    void SetAlertText(const QByteArray& text) override;
    void CloseAlert() override;

private:
    void changed() const;

    ServiceStatus m_status;
    std::function<void()> m_changed;
};

} // namespace kadmel
