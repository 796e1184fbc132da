#pragma once

#include "engine/MailChange.h"
#include "store/Settings.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>

namespace kadmel {

enum class MessagePicture
{
    Mail,
    Send
};

// Everything the engine shows goes through this interface; the main window implements it with
// widgets, tests with a recorder. Texts are Windows-1252 bytes, shown exactly.
class DispatcherView
{
public:
    virtual ~DispatcherView() = default;

    // Panel 1 "Aktif" / "Inaktif" with its picture, the Start and Stop commands, the tray tooltip.
    virtual void setServiceState(bool active) = 0;
    // Panel 2 text and its picture.
    virtual void setMessage(const QByteArray& text) = 0;
    virtual void setMessagePicture(MessagePicture picture) = 0;
    // Puts the progress display over panel 3.
    virtual void placeProgressBar() = 0;
    // Progress `value` of `maximum`; option 1 shows the bar, 2 hides it, others leave it.
    virtual void SetPBValue(qint32 value, qint32 maximum, qint16 option) = 0;

    // The folders changed (the store holds the change already): a new mail's row appended (bold), a mail's
    // row moved to the end of another list (the rows behind it close up), or a row's Status cell showing its
    // new text. The window's captions count the folders anew.
    virtual void mailChanged(const MailChange& change) = 0;

    // Mails were removed for good and the rest renumbered (the store holds the change already): every list
    // is filled again from the folders and the captions count them anew.
    virtual void foldersRenumbered() = 0;

    // The failed mails waiting to be sent again by themselves, by ID, with the local time of the next
    // attempt; every change of the schedule gives the whole of it.
    virtual void setRetryTimes(const QMap<qint16, QDateTime>& nextAttempts) = 0;

    // How far a run of several mails has come ("3 von 120, fertig etwa um 14:35"), after panel 2's text and in
    // the tray's tooltip; empty when no run goes on.
    virtual void setRunProgress(const QByteArray& text) = 0;

    // IdleFlag changed: false while a mail (or a folder command) is in hand.
    virtual void setIdle(bool idle) = 0;

    // The start check refused Start: show its message (and for IncompleteSmtp the settings dialog);
    // `reason` is the check's own German text, empty when it has none.
    virtual void startRefused(StartCheck check, const QString& reason) = 0;

    // True while the main window is hidden in the tray (TrayMode 2).
    virtual bool inTray() const = 0;
    virtual void ShowAlert(const QByteArray& text) = 0;
    virtual void SetAlertText(const QByteArray& text) = 0;
    // Closes the alert now; the engine waits out the pause before calling it.
    virtual void CloseAlert() = 0;
};

} // namespace kadmel
