#pragma once

#include "engine/MailChange.h"
#include "ui/mail/MailEditor.h"
#include "ui/mail/StoreEditTarget.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>

class QAction;

namespace kadmel {

class Form1;
class PermanentRemoval;
class SendAllSummary;

// The commands of the three folder menus (all but "Öffnen", which the window hands to the viewer).
// A command that changes the folders holds the dispatcher off while it runs; while a mail is in hand
// they are disabled. Removing for good runs in steps from the event loop, so the window stays usable.
class FolderCommands : public QObject
{
    Q_OBJECT
public:
    // `filesPerStep`: deletions and renames done per turn of the event loop during a removal for good.
    explicit FolderCommands(Form1& window, int filesPerStep = 20, QObject* parent = nullptr);
    ~FolderCommands() override;

    // Bearbeiten and Öffnen take one mail; the others every mail selected in the list.
    void edit();
    // One mail as before; several as one run, like "Alle Senden" over them.
    void resend();
    void resendAll();
    // Sent and failed folders move to the deleted folder once asked (unless told not to ask again); the deleted
    // folder deletes for good, once confirmed.
    void remove(int folder);
    void removeAll(int folder);
    // "Wiederherstellen": the mails selected in the deleted folder go back to the folder each came from.
    void restore();

    bool removalRunning() const { return m_removal != nullptr; }
    frmMailEdit* editor() const { return m_editor; }
    void closeEditor();

Q_SIGNALS:
    // A remove command has changed the folders, refreshed the lists and released the dispatcher.
    void removeFinished();

private:
    void enableCommands(bool idle);
    // A command that was asked for and not carried out says so in panel 2.
    void notDone(const QString& reason);
    // Removing from "Gelöschte Objekte" destroys mails and renumbers the rest: the user says so first.
    bool confirmForGood(const QString& what);
    // Moving to the deleted folder asks once, with "nicht mehr fragen", kept in kadmel.ini.
    bool confirmMove(const QString& what);
    // The mails asked about still stand in the folder, and no removal renumbered them meanwhile; then the hold.
    bool beginOn(int folder, const QList<qint16>& ids, qint16 mailCount, const QString& what);
    void removeMails(int folder, const QList<qint16>& ids, bool all);
    void removeForGood(const QList<qint16>& positions);
    void removalStep();
    // Open and Bearbeiten only with one mail selected.
    void fitToSelection(int folder);
    // `changes` go to the dispatcher as it is released, so its retry schedule follows the mails. `summary` goes
    // to panel 2 when nothing failed; empty: the folder's count.
    void finishRemove(int folder, const QString& error, const CommandChanges& changes, const QString& summary = {});

    Form1& m_window;
    StoreEditTarget m_editTarget;
    int m_filesPerStep;
    QList<QAction*> m_guarded; // every command but "Öffnen"
    QPointer<frmMailEdit> m_editor;
    std::unique_ptr<PermanentRemoval> m_removal;
    QTimer m_removalTimer;
    SendAllSummary* m_sendAllSummary = nullptr; // child; exists with the dispatcher
};

} // namespace kadmel
