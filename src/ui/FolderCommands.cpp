#include "ui/FolderCommands.h"

#include "engine/MailCommands.h"
#include "store/Ansi.h"
#include "store/KadmelIni.h"
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

// A move that happened in memory but not on disk says so; one that did not happen says why.
QString unsaved(const QString& command, const CommandOutcome& outcome)
{
    if (outcome.error.isEmpty() || !outcome.done)
        return outcome.error;
    return command + QStringLiteral(" nicht vollständig gespeichert: ") + outcome.error;
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
    bind(DeletedFolder, "Restore", [this] { restore(); });
    for (int f = 1; f <= 3; ++f) {
        bind(f, "Remove", [this, f] { remove(f); });
        bind(f, "RemoveAll", [this, f] { removeAll(f); });
        connect(m_window.contextMenu(f), &QMenu::aboutToShow, this, [this, f] { fitToSelection(f); });
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

void FolderCommands::fitToSelection(int folder)
{
    const bool one = m_window.selectedPositions(folder).size() == 1;
    if (QAction* open = menuAction(m_window, folder, "Open"))
        open->setEnabled(one);
    if (QAction* edit = menuAction(m_window, folder, "Edit"))
        edit->setEnabled(one && m_window.dispatcher() && m_window.dispatcher()->IdleFlag());
}

void FolderCommands::edit()
{
    const qint16 id = m_window.selectedId(FailedFolder);
    const qint16 pos = m_window.selectedPosition(FailedFolder);
    Dispatcher* dispatcher = m_window.dispatcher();
    if (pos < 1 || !dispatcher || m_window.selectedPositions(FailedFolder).size() != 1)
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
    if (const QList<qint16> ids = m_window.selectedIds(FailedFolder); ids.size() > 1) {
        Dispatcher* dispatcher = m_window.dispatcher();
        if (!dispatcher)
            return;
        m_sendAllSummary->begin();
        if (const Dispatcher::Answer answer = dispatcher->resendFailed(ids); answer != Dispatcher::Answer::Started) {
            m_sendAllSummary->cancel();
            notDone(mailsText(int(ids.size())) + QStringLiteral(" wurden nicht gesendet: ") +
                    whyNot(*dispatcher, answer));
        }
        return;
    }
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

bool FolderCommands::confirmMove(const QString& what)
{
    KadmelIniFile& ini = m_window.store().kadmelIni();
    if (!ini.read().askBeforeRemoving)
        return true;
    bool dontAsk = false;
    if (m_window.prompts().askWithCheck(&m_window, what + QStringLiteral(" in „Gelöschte Objekte“ verschieben?"),
                                        QStringLiteral("nicht mehr fragen"), dontAsk) != PromptAnswer::Ok)
        return false;
    if (QString error; dontAsk && !ini.write({.askBeforeRemoving = false}, &error))
        notDone(QStringLiteral("„Nicht mehr fragen“ wurde nicht gespeichert: ") + error);
    return true;
}

bool FolderCommands::beginOn(int folder, const QList<qint16>& ids, qint16 mailCount, const QString& what)
{
    // The question let events run: a retry may have moved a mail, the housekeeping renumbered them all.
    Dispatcher* dispatcher = m_window.dispatcher();
    if (!dispatcher)
        return false;
    const MailTables& tables = m_window.store().tables();
    if (tables.MailCount() != mailCount || positionsOf(tables, folder, ids).size() != ids.size()) {
        notDone(ids.size() == 1
                    ? QStringLiteral("Die E-Mail (ID %1) steht nicht mehr an ihrem Platz; es wurde "
                                     "nichts %2.")
                          .arg(ids.first())
                          .arg(what)
                    : QStringLiteral("Der Ordner hat sich inzwischen geändert; es wurde nichts %1.").arg(what));
        return false;
    }
    if (!dispatcher->beginCommand()) {
        notDone(QStringLiteral("Es wurde nichts %1: ").arg(what) + Busy);
        return false;
    }
    return true;
}

void FolderCommands::remove(int folder)
{
    removeMails(folder, m_window.selectedIds(folder), false);
}

void FolderCommands::removeAll(int folder)
{
    removeMails(folder, m_window.store().tables().folder(folder).entries(), true);
}

void FolderCommands::removeMails(int folder, const QList<qint16>& ids, bool all)
{
    const int count = int(ids.size());
    if (count < 1)
        return;
    const qint16 mailCount = m_window.store().tables().MailCount();
    if (folder == DeletedFolder) {
        const QString what = !all ? (count == 1 ? QStringLiteral("E-Mail (ID %1)").arg(ids.first()) : mailsText(count))
                             : count == 1 ? QStringLiteral("Die E-Mail in „Gelöschte Objekte“")
                                          : QStringLiteral("Alle %1 E-Mails in „Gelöschte Objekte“").arg(count);
        if (!confirmForGood(what) || !beginOn(folder, ids, mailCount, QStringLiteral("entfernt")))
            return;
        return removeForGood(positionsOf(m_window.store().tables(), folder, ids));
    }
    const QString what =
        count == 1 ? (all ? QStringLiteral("Die E-Mail") : QStringLiteral("Die E-Mail (ID %1)")).arg(ids.first())
        : all      ? QStringLiteral("Alle %1 E-Mails").arg(count)
                   : mailsText(count);
    if (!confirmMove(what) || !beginOn(folder, ids, mailCount, QStringLiteral("entfernt")))
        return;
    const CommandOutcome outcome = moveMailsToDeleted(m_window.store(), folder, ids);
    finishRemove(folder, unsaved(QStringLiteral("Entfernen"), outcome), outcome.changes,
                 count == 1 ? QString() : mailsText(outcome.done) + QStringLiteral(" verschoben."));
}

void FolderCommands::restore()
{
    const QList<qint16> ids = m_window.selectedIds(DeletedFolder);
    if (ids.isEmpty() ||
        !beginOn(DeletedFolder, ids, m_window.store().tables().MailCount(), QStringLiteral("wiederhergestellt")))
        return;
    const CommandOutcome outcome = restoreMails(m_window.store(), ids);
    int into[3] = {0, 0, 0};
    for (const MailChange& move : outcome.changes.moves)
        ++into[move.folder - 1];
    QStringList where;
    for (const int folder : {SentFolder, FailedFolder}) {
        if (into[folder - 1])
            where << QStringLiteral("%1 in „%2“").arg(into[folder - 1]).arg(folderTitle(folder));
    }
    finishRemove(DeletedFolder, unsaved(QStringLiteral("Wiederherstellen"), outcome), outcome.changes,
                 mailsText(outcome.done) + QStringLiteral(" wiederhergestellt: ") + where.join(QStringLiteral(", ")) +
                     u'.');
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

void FolderCommands::finishRemove(int folder, const QString& error, const CommandChanges& changes,
                                  const QString& summary)
{
    m_window.foldersRenumbered();
    if (!error.isEmpty())
        notDone(error);
    else if (!summary.isEmpty())
        notDone(summary);
    else
        m_window.showFolderCount(folder);
    if (Dispatcher* dispatcher = m_window.dispatcher())
        dispatcher->endCommand(changes);
    Q_EMIT removeFinished();
}

} // namespace kadmel
