#include "ui/FolderCommands.h"

#include "store/Ansi.h"
#include "store/PermanentRemoval.h"
#include "store/ResultCode.h"
#include "store/Store.h"
#include "ui/FolderListModel.h"
#include "ui/Form1.h"
#include "ui/Prompts.h"
#include "ui/SendAllSummary.h"
#include "ui/StatusPanel.h"
#include "ui/mail/MailEditor.h"

#include <QAction>
#include <QMenu>
#include <functional>
#include <memory>

namespace kadmel {
namespace {

const char* const MenuPrefix[3] = {"Mnu_O_", "Mnu_Err_", "Mnu_T_"};

QAction* menuAction(const Form1& window, int folder, const char* item)
{
    return window.contextMenu(folder)->findChild<QAction*>(QLatin1String(MenuPrefix[folder - 1]) + QLatin1String(item));
}

const QString Renumbered = QStringLiteral(" endgültig löschen? Die übrigen E-Mails erhalten neue Nummern.");
const QString Busy = QStringLiteral("Gerade wird eine E-Mail bearbeitet. Bitte danach erneut versuchen.");

QString whyNot(const Dispatcher& dispatcher, Dispatcher::Answer answer)
{
    return answer == Dispatcher::Answer::Paused ? fromAnsi(dispatcher.pauseMessage()) + u'.' : Busy;
}

} // namespace

FolderCommands::FolderCommands(Form1& window, int filesPerStep, QObject* parent)
    : QObject(parent), m_window(window), m_editTarget(window.store()), m_filesPerStep(qMax(1, filesPerStep))
{
    const auto bind = [this](int folder, const char* item, std::function<void()> command) {
        if (QAction* action = menuAction(m_window, folder, item)) {
            connect(action, &QAction::triggered, this, std::move(command));
            m_guarded.append(action);
        }
    };
    bind(FailedFolder, "Edit", [this] { edit(); });
    bind(FailedFolder, "Send", [this] { resend(); });
    bind(FailedFolder, "SendAll", [this] { resendAll(); });
    for (int f = 1; f <= 3; ++f) {
        bind(f, "Remove", [this, f] { remove(f); });
        bind(f, "RemoveAll", [this, f] { removeAll(f); });
    }
    if (Dispatcher* dispatcher = m_window.dispatcher()) {
        m_sendAllSummary = new SendAllSummary(*dispatcher, *m_window.panel(2), this);
        connect(dispatcher, &Dispatcher::idleChanged, this, &FolderCommands::enableCommands);
        enableCommands(dispatcher->IdleFlag());
    }

    // Zero interval: one step per turn of the event loop, painting and input in between.
    m_removalTimer.setInterval(0);
    connect(&m_removalTimer, &QTimer::timeout, this, &FolderCommands::removalStep);
}

// The editor is the window's child and goes with it.
FolderCommands::~FolderCommands() = default;

void FolderCommands::enableCommands(bool idle)
{
    for (QAction* action : std::as_const(m_guarded))
        action->setEnabled(idle);
}

void FolderCommands::edit()
{
    const qint16 id = m_window.selectedId(FailedFolder);
    const qint16 pos = m_window.selectedPosition(FailedFolder);
    Dispatcher* dispatcher = m_window.dispatcher();
    if (pos < 1 || !dispatcher)
        return;
    if (!dispatcher->beginCommand())
        return notDone(QStringLiteral("Die E-Mail (ID %1) wurde nicht geöffnet: ").arg(id) + Busy);
    // No job is taken while the editor is open: its save writes the whole store. A save that changed the
    // addresses or the subject makes it another mail than the one that failed: it waits for no retry.
    const auto edited = std::make_shared<qint16>(0);
    const auto release = [this, edited] {
        if (Dispatcher* d = m_window.dispatcher())
            d->endCommand({{}, {}, *edited});
    };
    closeEditor();
    m_editor = new frmMailEdit(m_editTarget, &m_window);
    if (!m_editor->openMail(id)) {
        delete m_editor;
        return release();
    }
    const MailRecord before = m_window.store().tables().mail(id);
    m_editor->setAttribute(Qt::WA_DeleteOnClose);
    m_editor->setWindowModality(Qt::ApplicationModal);
    connect(m_editor, &frmMailEdit::saved, this, [this, before, edited](qint16 savedId) {
        const MailRecord& after = m_window.store().tables().mail(savedId);
        if (after != before) // addresses, subject or attachments
            *edited = savedId;
        m_window.listModel(FailedFolder)->refreshMail(savedId);
    });
    connect(m_editor, &QDialog::finished, this, release);
    m_editor->show();
}

void FolderCommands::closeEditor()
{
    if (m_editor)
        m_editor->close();
}

void FolderCommands::resend()
{
    const qint16 pos = m_window.selectedPosition(FailedFolder);
    const MailTables& tables = m_window.store().tables();
    if (pos < 1 || pos > tables.count(FailedFolder))
        return;
    const qint16 id = tables.idAt(FailedFolder, pos);
    if (resultNature(tables.mail(id)) == ResultNature::Unclear &&
        m_window.prompts().ask(&m_window,
                               QStringLiteral("Diese E-Mail wurde möglicherweise bereits zugestellt. "
                                              "Trotzdem erneut senden?"),
                               PromptIcon::Question, PromptButtons::OkCancel) != PromptAnswer::Ok)
        return;
    // Asked only now: the program may have ended while the question was open, and an automatic retry
    // may have moved the mail. The mail is found again by its ID.
    Dispatcher* dispatcher = m_window.dispatcher();
    if (!dispatcher)
        return;
    const qsizetype index = tables.folder(FailedFolder).entries().indexOf(id);
    if (index < 0)
        return notDone(QStringLiteral("Die E-Mail (ID %1) steht nicht mehr in „Fehlgeschl. Objekte“ und wurde "
                                      "nicht erneut gesendet.")
                           .arg(id));
    const Dispatcher::Answer answer = dispatcher->resend(FailedFolder, qint16(index + 1));
    if (answer == Dispatcher::Answer::Busy || answer == Dispatcher::Answer::Paused)
        notDone(QStringLiteral("Die E-Mail (ID %1) wurde nicht gesendet: ").arg(id) + whyNot(*dispatcher, answer));
}

void FolderCommands::resendAll()
{
    Dispatcher* dispatcher = m_window.dispatcher();
    if (!dispatcher || !m_window.store().tables().count(FailedFolder))
        return;
    m_sendAllSummary->begin(); // before the run: it may end before resendAllFailed() returns
    if (const Dispatcher::Answer answer = dispatcher->resendAllFailed(); answer != Dispatcher::Answer::Started) {
        m_sendAllSummary->cancel();
        notDone(QStringLiteral("„Alle Senden“ wurde nicht ausgeführt: ") + whyNot(*dispatcher, answer));
    }
}

void FolderCommands::notDone(const QString& reason)
{
    m_window.panel(2)->setText(reason);
}

bool FolderCommands::confirmForGood(const QString& what)
{
    return m_window.prompts().ask(&m_window, what + Renumbered, PromptIcon::Question, PromptButtons::OkCancel) ==
           PromptAnswer::Ok;
}

void FolderCommands::remove(int folder)
{
    const qint16 pos = m_window.selectedPosition(folder);
    const qint16 id = m_window.selectedId(folder);
    if (pos < 1 || (folder == DeletedFolder && !confirmForGood(QStringLiteral("E-Mail (ID %1)").arg(id))))
        return;
    // The question let events run: the mail must still stand where it stood.
    const MailTables& tables = m_window.store().tables();
    Dispatcher* dispatcher = m_window.dispatcher();
    if (!dispatcher)
        return;
    if (pos > tables.count(folder) || tables.idAt(folder, pos) != id)
        return notDone(QStringLiteral("Die E-Mail (ID %1) steht nicht mehr an ihrem Platz; es wurde nichts "
                                      "entfernt.")
                           .arg(id));
    if (!dispatcher->beginCommand())
        return notDone(QStringLiteral("Es wurde nichts entfernt: ") + Busy);
    if (folder == DeletedFolder)
        removeForGood({pos});
    else
        moveToDeleted(folder, pos, 1);
}

void FolderCommands::removeAll(int folder)
{
    const qint16 count = m_window.store().tables().count(folder);
    const QString what = count == 1 ? QStringLiteral("Die E-Mail in „Gelöschte Objekte“")
                                    : QStringLiteral("Alle %1 E-Mails in „Gelöschte Objekte“").arg(count);
    if (count < 1 || (folder == DeletedFolder && !confirmForGood(what)))
        return;
    Dispatcher* dispatcher = m_window.dispatcher();
    if (!dispatcher)
        return;
    if (m_window.store().tables().count(folder) != count)
        return notDone(QStringLiteral("Der Ordner hat sich inzwischen geändert; es wurde nichts entfernt."));
    if (!dispatcher->beginCommand())
        return notDone(QStringLiteral("Es wurde nichts entfernt: ") + Busy);
    if (folder == DeletedFolder) {
        QList<qint16> positions;
        positions.reserve(count);
        for (int pos = 1; pos <= count; ++pos) // int: a full folder ends at 32767
            positions.append(qint16(pos));
        removeForGood(positions);
    } else {
        moveToDeleted(folder, 1, count);
    }
}

void FolderCommands::moveToDeleted(int folder, qint16 pos, qint16 count)
{
    const QList<qint16> ids = m_window.store().tables().folder(folder).entries().mid(pos - 1, count);
    QString error;
    const qint16 moved = m_window.store().moveToDeleted(folder, pos, count, &error);
    CommandChanges changes;
    for (qint16 k = 0; k < moved; ++k)
        changes.moves.append({MailChange::Kind::Moved, ids.at(k), DeletedFolder, folder, pos});
    finishRemove(folder, error, changes);
}

void FolderCommands::removeForGood(const QList<qint16>& positions)
{
    QList<qint16> ids; // their receipts are made while the mails are still there
    for (const qint16 pos : positions) {
        if (pos >= 1 && pos <= m_window.store().tables().count(DeletedFolder))
            ids.append(m_window.store().tables().idAt(DeletedFolder, pos));
    }
    if (Dispatcher* dispatcher = m_window.dispatcher())
        dispatcher->removingForGood(ids);
    m_removal = std::make_unique<PermanentRemoval>(m_window.store(), positions);
    m_window.SetPBValue(0, qMax(1, m_removal->totalOperations()), 1);
    m_removalTimer.start();
}

void FolderCommands::removalStep()
{
    QString error;
    const bool done = m_removal->step(m_filesPerStep, &error);
    m_window.SetPBValue(m_removal->doneOperations(), qMax(1, m_removal->totalOperations()), 0);
    if (!done)
        return;
    m_removalTimer.stop();
    const CommandChanges changes{{}, m_removal->newIds()};
    m_removal.reset();
    m_window.SetPBValue(0, 1, 2);
    finishRemove(DeletedFolder, error, changes);
}

void FolderCommands::finishRemove(int folder, const QString& error, const CommandChanges& changes)
{
    m_window.foldersRenumbered();
    if (error.isEmpty())
        m_window.showFolderCount(folder);
    else if (folder == DeletedFolder)
        notDone(error); // the removal says what became of it
    else
        notDone(QStringLiteral("Entfernen nicht vollständig gespeichert: ") + error);
    if (Dispatcher* dispatcher = m_window.dispatcher())
        dispatcher->endCommand(changes);
    Q_EMIT removeFinished();
}

} // namespace kadmel
