#pragma once

#include "ui/mail/frmSysTrayAlert.h"

#include <QObject>
#include <QPoint>
#include <QRect>
#include <memory>

namespace kadmel {

// Top-left corner for a pop-up of this size: next to the tray icon's area where it is known (above it
// for a panel at the bottom, below it for one at the top), else at the bottom right of the available
// area (the screen less its panels); always inside that area, at its top left when larger than it.
QPoint alertPosition(QSize popupSize, const QRect& availableArea, const QRect& trayIcon = {});

// The pop-up's operations: one pop-up at a time, created when shown and discarded when closed
// (its own close button only hides it until then).
class SysTrayAlert : public QObject
{
    Q_OBJECT
public:
    explicit SysTrayAlert(QObject* parent = nullptr);
    ~SysTrayAlert() override;

    // Shows the pop-up with the text next to the tray icon (an invalid rectangle where unknown), on
    // the icon's screen, else at the bottom right of the primary screen's available area.
    void ShowAlert(const QByteArray& text, const QRect& trayIcon = {});
    // Replaces the message of an open pop-up, a one-line text followed by the mail's ID, subject and
    // recipient from the text it was shown with; nothing happens when it is gone.
    void SetAlertText(const QByteArray& text);
    // Closes the pop-up now (the caller has waited out its pause); nothing happens when it is gone.
    void CloseAlert();

    // The pop-up while it is on the screen, else nullptr.
    frmSysTrayAlert* popup() const;

private:
    std::unique_ptr<frmSysTrayAlert> m_popup;
    QByteArray m_mailId;    // "(ID n)"
    QByteArray m_mailLines; // CR LF "Betreff: …" CR LF "An: …"
};

} // namespace kadmel
