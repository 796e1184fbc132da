#include "ui/Form1.h"

#include "engine/ByteText.h"
#include "engine/RetrySchedule.h"
#include "store/Ansi.h"
#include "store/FileAccess.h"
#include "store/KadmelIni.h"
#include "store/Store.h"
#include "store/WindowPlacement.h"
#include "ui/FolderCommands.h"
#include "ui/FolderListModel.h"
#include "ui/FolderListView.h"
#include "ui/FolderNames.h"
#include "ui/FolderSortModel.h"
#include "ui/ProgressBox.h"
#include "ui/Prompts.h"
#include "ui/ScreenRoom.h"
#include "ui/StatusPanel.h"
#include "ui/TrayHooks.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QSplitter>
#include <QStackedWidget>
#include <QTableView>
#include <QTextStream>
#include <QTreeWidget>

#include <algorithm>

namespace kadmel {
namespace {

const QString WindowCaption = QStringLiteral("Kadmel Mail System v3.0");

} // namespace

Form1::Form1(Store& store, Prompts& prompts, MainWindowOptions options, QWidget* parent)
    : QMainWindow(parent), m_store(store), m_prompts(prompts), m_options(std::move(options))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(programTitle());
    setWindowIcon(programIcon());
    buildWidgets();
    buildMenus();
    buildStatusBar();
    connect(&m_clock, &QTimer::timeout, this, &Form1::updateClock);
    connect(qApp, &QGuiApplication::commitDataRequest, this, &Form1::commitData);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &Form1::lastChanceSave);
}

Form1::~Form1() = default;

int Form1::px(int twips) const
{
    return qRound(twips / 15.0 * logicalDpiX() / 96.0);
}

void Form1::load()
{
    Settings& settings = m_store.settings();
    if (settings.WatchFolder.isEmpty())
        settings.WatchFolder = defaultWatchFolder();
    fitFirstSize();
    const WindowPlacement placement = m_store.kadmelIni().read().placement;
    placeWindow(placement);
    show();

    setWindowTitle(WindowCaption);
    m_start->setEnabled(true);
    m_menuStart->setEnabled(true);

    m_dispatcher = std::make_unique<Dispatcher>(m_store, *this, m_options.engine, m_options.secrets);
    connect(m_dispatcher.get(), &Dispatcher::sendAllRunningChanged, this, &Form1::updateStopCommands);
    m_commands = new FolderCommands(*this, m_options.removalFilesPerStep, this);
    QString indexError;
    const bool indexSaved = FillLists(&indexError);
    restorePanes(placement); // the split is in pixels of the window as laid out
    BuildFolderTree();
    m_dispatcher->updateJobFolder();

    if (indexSaved)
        showFolderCount(SentFolder);
    else
        m_panels[1]->setText(QStringLiteral("Ordnerindex konnte nicht gespeichert werden: ") + indexError);
    m_panels[1]->setPicture(Picture::Mail);
    m_panels[3]->setText(folderName(SentFolder) + QLatin1Char(' '));
    m_panels[3]->setPicture(Picture::MailSent);
    m_panels[0]->setText(QStringLiteral("Inaktif"));
    m_panels[0]->setPicture(Picture::Inactive);
    placeProgressBar();
    updateClock();
    m_clock.start(1000);

    if (settings.AutoStart == 2)
        m_dispatcher->StartProcessing();
}

bool Form1::FillLists(QString* error)
{
    RefreshLists();
    // Written once for the whole list, not once per row.
    return m_store.SaveFolders(error);
}

void Form1::RefreshLists()
{
    // The commands that change the folders write the index themselves and report its failure.
    for (FolderListModel* model : m_models)
        model->rebuild();
}

void Form1::BuildFolderTree()
{
    m_tree->clear();
    auto make = [](QTreeWidgetItem* parent, const QString& key, const QString& caption, Picture picture) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem;
        item->setData(0, KeyRole, key);
        item->setText(0, caption);
        item->setIcon(0, pictureIcon(picture));
        return item;
    };
    const MailTables& t = m_store.tables();
    QTreeWidgetItem* root = make(nullptr, QStringLiteral("P1"), programTitle(), Picture::Mail);
    m_tree->addTopLevelItem(root);
    QTreeWidgetItem* local = make(root, QStringLiteral("P1_1"), QStringLiteral("Lokale Ordner "), Picture::Folder);
    make(local, QStringLiteral("P1_1_1"), folderCaption(SentFolder, t.count(SentFolder)), Picture::MailSent);
    make(local, QStringLiteral("P1_1_2"), folderCaption(FailedFolder, t.count(FailedFolder)), Picture::MailError);
    make(local, QStringLiteral("P1_1_3"), folderCaption(DeletedFolder, t.count(DeletedFolder)), Picture::Trash);
    make(root, QStringLiteral("P1_2"), QStringLiteral("Einstellungen"), Picture::Options);
    root->setExpanded(true);
    local->setExpanded(true);
    m_tree->setCurrentItem(local->child(0));
}

QTreeWidgetItem* Form1::node(int number) const
{
    QTreeWidgetItem* root = m_tree->topLevelItem(0);
    if (!root)
        return nullptr;
    switch (number) {
    case 1:
        return root;
    case 2:
        return root->child(0);
    case 3:
    case 4:
    case 5:
        return root->child(0)->child(number - 3);
    case 6:
        return root->child(1);
    }
    return nullptr;
}

void Form1::updateFolderCaptions()
{
    const MailTables& t = m_store.tables();
    for (int f = 1; f <= 3; ++f) {
        if (QTreeWidgetItem* item = node(f + 2))
            item->setText(0, folderCaption(f, t.count(f)));
    }
}

void Form1::showFolderCount(int folder)
{
    m_panels[1]->setText(QString::number(m_store.tables().count(folder)) + QStringLiteral(" Objekt(e)"));
}

void Form1::nodeClicked(QTreeWidgetItem* item)
{
    if (!item)
        return;
    const QString key = item->data(0, KeyRole).toString();
    if (key == QStringLiteral("P1_2")) {
        openSettingsDialog();
        // The tree goes on showing the folder on display, not a dialog that may be closed by now.
        const QSignalBlocker quiet(m_tree);
        m_tree->setCurrentItem(node(visibleFolder() + 2));
        return;
    }
    static const QStringList folderKeys = {QStringLiteral("P1_1_1"), QStringLiteral("P1_1_2"),
                                           QStringLiteral("P1_1_3")};
    const int folder = int(folderKeys.indexOf(key)) + 1;
    if (folder > 0)
        showFolder(folder);
}

void Form1::showFolder(int folder)
{
    m_stack->setCurrentIndex(folder - 1);
    if (isIdle()) {
        showFolderCount(folder);
        m_panels[1]->setPicture(Picture::Mail);
    }
    m_panels[3]->setText(folderName(folder) + QLatin1Char(' '));
    m_panels[3]->setPicture(folderPicture(folder));
}

int Form1::visibleFolder() const
{
    return m_stack->currentIndex() + 1;
}

void Form1::openSettingsDialog()
{
    if (m_settings && m_settings->isVisible()) {
        m_settings->raise();
        m_settings->activateWindow();
        return;
    }
    delete m_settings; // closed, its deletion still pending
    m_settings = new Form5(m_store, m_prompts, m_options.folderPicker, this, {}, m_options.secrets);
    m_settings->setAttribute(Qt::WA_DeleteOnClose);
    m_settings->setWindowModality(Qt::ApplicationModal);
    m_settings->show();
}

void Form1::saveMailAsFile(qint16 id, QWidget* parent)
{
    const QString path = kadmel::saveMailAsFile(parent, m_store, id, m_prompts, m_options.saveFilePicker);
    if (!path.isEmpty())
        setMessage(toAnsi(QStringLiteral("E-Mail (ID %1) gespeichert als %2").arg(id).arg(quotedName(path))));
}

void Form1::saveSelectedAsFiles(int folder)
{
    const QList<qint16> ids = selectedIds(folder);
    if (ids.size() == 1)
        return saveMailAsFile(ids.first(), this);
    const QString summary = kadmel::saveMailsToFolder(this, m_store, ids, m_prompts, m_options.folderPicker);
    if (!summary.isEmpty())
        setMessage(toAnsi(summary));
}

void Form1::saveAttachment(qint16 id, int index, QWidget* parent)
{
    const QString path = kadmel::saveAttachmentAsFile(parent, m_store, id, index, m_prompts, m_options.saveFilePicker);
    if (!path.isEmpty())
        setMessage(
            toAnsi(QStringLiteral("Anhang der E-Mail (ID %1) gespeichert als %2").arg(id).arg(quotedName(path))));
}

FolderListModel* Form1::listModel(int folder) const
{
    return m_models.at(folder - 1);
}

QTableView* Form1::list(int folder) const
{
    return m_lists.at(folder - 1);
}

QMenu* Form1::contextMenu(int folder) const
{
    return m_menus.at(folder - 1);
}

StatusPanel* Form1::panel(int number) const
{
    return m_panels.at(number - 1);
}

qint16 Form1::selectedPosition(int folder) const
{
    // The view may be sorted: its row is mapped back to the folder's row, which is the position.
    const QModelIndexList rows = list(folder)->selectionModel()->selectedRows();
    return rows.isEmpty() ? 0 : qint16(m_sorted.at(folder - 1)->mapToSource(rows.first()).row() + 1);
}

QList<qint16> Form1::selectedPositions(int folder) const
{
    QList<qint16> positions;
    for (const QModelIndex& row : list(folder)->selectionModel()->selectedRows())
        positions.append(qint16(m_sorted.at(folder - 1)->mapToSource(row).row() + 1));
    std::sort(positions.begin(), positions.end());
    return positions;
}

QList<qint16> Form1::selectedIds(int folder) const
{
    QList<qint16> ids;
    for (const qint16 pos : selectedPositions(folder))
        ids.append(listModel(folder)->idAt(pos - 1));
    return ids;
}

qint16 Form1::selectedId(int folder) const
{
    const qint16 pos = selectedPosition(folder);
    return pos > 0 ? listModel(folder)->idAt(pos - 1) : 0;
}

void Form1::listContextMenu(int folder, const QPoint& pos)
{
    QTableView* view = list(folder);
    // A click outside the selection selects that mail alone; inside, the menu acts on all of them.
    const QModelIndex under = view->indexAt(pos);
    if (under.isValid() && !view->selectionModel()->isRowSelected(under.row()))
        view->selectRow(under.row());
    if (listModel(folder)->rowCount() > 0 && selectedPosition(folder) >= 1)
        contextMenu(folder)->popup(view->viewport()->mapToGlobal(pos));
}

void Form1::listDoubleClicked(int folder)
{
    if (listModel(folder)->rowCount() > 0 && selectedPositions(folder).size() == 1)
        Q_EMIT openMailRequested(folder);
}

void Form1::addListKeys(int folder, QTableView* view)
{
    // Enter opens the selected mail and Delete runs "Entfernen", through the same checks as the mouse.
    auto* open = new QAction(view);
    open->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    open->setShortcutContext(Qt::WidgetShortcut);
    connect(open, &QAction::triggered, this, [this, folder] { listDoubleClicked(folder); });
    auto* remove = new QAction(view);
    remove->setShortcut(QKeySequence(Qt::Key_Delete));
    remove->setShortcutContext(Qt::WidgetShortcut);
    connect(remove, &QAction::triggered, this, [this, folder] {
        static const char* const names[3] = {"Mnu_O_Remove", "Mnu_Err_Remove", "Mnu_T_Remove"};
        QAction* command = contextMenu(folder)->findChild<QAction*>(QLatin1String(names[folder - 1]));
        if (command && selectedPosition(folder) >= 1)
            command->trigger(); // does nothing while the command is disabled
    });
    view->addActions({open, remove});
}

WindowPlacement Form1::currentPlacement() const
{
    WindowPlacement placement;
    placement.geometry = normalGeometry();
    placement.maximized = isMaximized();
    placement.splitter = m_splitter->sizes();
    for (int f = 0; f < 3; ++f)
        placement.columns.at(f) = m_lists.at(f)->wantedWidths(); // as given, not as a small window squeezed them
    return placement;
}

void Form1::placeWindow(const WindowPlacement& placement)
{
    // The remembered place while its screen is there; otherwise the middle of the screen, not wherever the
    // desktop puts a window beside the splash. Either way no larger than the screen's available area.
    QRect rect = placement.geometry.value_or(QRect(QPoint(), size()));
    const QScreen* screen = placement.geometry ? QGuiApplication::screenAt(rect.center()) : nullptr;
    if (!screen) {
        screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        rect.moveCenter(screen->availableGeometry().center());
    }
    setGeometry(placeInside(rect, windowFrame(*this), screen->availableGeometry()));
    if (placement.maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
}

void Form1::restorePanes(const WindowPlacement& placement)
{
    if (placement.splitter.size() == 2)
        m_splitter->setSizes(placement.splitter);
    for (int f = 0; f < 3; ++f)
        m_lists.at(f)->setWantedWidths(placement.columns.at(f));
}

void Form1::updateClock()
{
    const QDateTime now = QDateTime::currentDateTime();
    m_panels[4]->setText(QString::fromLatin1(clockText(now.time())));
    m_panels[5]->setText(QString::fromLatin1(dayText(now.date())));
}

bool Form1::isIdle() const
{
    return !m_dispatcher || m_dispatcher->IdleFlag();
}

void Form1::updateStopCommands()
{
    const bool sendAll = m_dispatcher && m_dispatcher->sendAllRunning();
    const bool active = m_dispatcher && m_dispatcher->ServiceState() == 1;
    m_stop->setEnabled(active || sendAll);
    m_menuStop->setEnabled(active || sendAll);
    m_stopSendAll->setEnabled(sendAll);
    if (m_hooks)
        m_hooks->stopOffered(active || sendAll);
}

// --- DispatcherView ---

void Form1::setServiceState(bool active)
{
    m_panels[0]->setText(active ? QStringLiteral("Aktif") : QStringLiteral("Inaktif"));
    m_panels[0]->setPicture(active ? Picture::Active : Picture::Inactive);
    m_start->setEnabled(!active);
    m_menuStart->setEnabled(!active);
    if (m_hooks)
        m_hooks->serviceStateChanged(active);
    updateStopCommands();
}

QString Form1::engineMessage() const
{
    return m_runProgress.isEmpty() ? m_message : m_message + QStringLiteral(" – ") + m_runProgress;
}

void Form1::setMessage(const QByteArray& text)
{
    m_message = fromAnsi(text);
    m_panels[1]->setText(engineMessage());
}

void Form1::setMessagePicture(MessagePicture picture)
{
    m_panels[1]->setPicture(picture == MessagePicture::Send ? Picture::Send : Picture::Mail);
}

void Form1::placeProgressBar()
{
    // The box is laid out inside panel 3; only the first mail after start-up finds it unpolished.
    m_progress->ensurePolished();
}

void Form1::SetPBValue(qint32 value, qint32 maximum, qint16 option)
{
    m_progress->SetPBValue(value, maximum, option);
}

void Form1::mailChanged(const MailChange& change)
{
    if (change.folder < 1 || change.folder > 3)
        return;
    if (change.kind == MailChange::Kind::StatusChanged)
        return listModel(change.folder)->setRowStatus(change.pos, change.statusText);
    // A moved mail's row is added where it goes before it leaves where it was.
    listModel(change.folder)->appendRow(change.id, change.kind == MailChange::Kind::Filed);
    if (change.kind == MailChange::Kind::Moved && change.fromFolder >= 1 && change.fromFolder <= 3)
        listModel(change.fromFolder)->removeRowAt(change.pos);
    updateFolderCaptions();
}

void Form1::foldersRenumbered()
{
    RefreshLists();
    updateFolderCaptions();
}

void Form1::setRetryTimes(const QMap<qint16, QDateTime>& nextAttempts)
{
    QHash<qint16, QByteArray> suffixes;
    for (auto it = nextAttempts.cbegin(); it != nextAttempts.cend(); ++it)
        suffixes.insert(it.key(), retrySuffix(it.value()));
    listModel(FailedFolder)->setStatusSuffixes(suffixes);
}

void Form1::setRunProgress(const QByteArray& text)
{
    // Panel 2 follows when it still shows the engine's text (a folder command may have said something since).
    const bool shown = m_panels[1]->text() == engineMessage();
    m_runProgress = fromAnsi(text);
    if (shown)
        m_panels[1]->setText(engineMessage());
    if (m_hooks)
        m_hooks->runProgress(text);
}

void Form1::setIdle(bool idle)
{
    // The window asks the dispatcher's IdleFlag when it needs it; termination waits for idleChanged.
    // With no mail in hand there is no progress to show.
    if (idle)
        m_progress->clear();
}

void Form1::startRefused(StartCheck check, const QString& reason)
{
    if (check == StartCheck::IncompleteSmtp) {
        m_prompts.ask(this, QStringLiteral("Überprüfen Sie Ihre Einstellungen !..."), PromptIcon::Exclamation,
                      PromptButtons::Ok);
        openSettingsDialog();
    } else if (check == StartCheck::NoWatchFolder) {
        m_prompts.ask(this, QStringLiteral("KADMEL-Ordner nicht gewählt."), PromptIcon::Critical, PromptButtons::Ok);
    } else if (check == StartCheck::UnusableEncryption) {
        m_prompts.ask(this,
                      QStringLiteral("Der Dienst wird nicht gestartet.\n") + reason +
                          QStringLiteral("\nBitte die Verschlüsselung in den Einstellungen wählen."),
                      PromptIcon::Critical, PromptButtons::Ok);
    } else if (check == StartCheck::UnusableSignIn) {
        m_prompts.ask(this,
                      QStringLiteral("Der Dienst wird nicht gestartet.\n") + reason +
                          QStringLiteral("\nBitte die Anmeldung in den Einstellungen wählen."),
                      PromptIcon::Critical, PromptButtons::Ok);
    } else if (check == StartCheck::OAuthNeedsEncryption) {
        m_prompts.ask(this, reason, PromptIcon::Critical, PromptButtons::Ok); // the decision's own sentence
    }
}

bool Form1::inTray() const
{
    return m_hooks && m_hooks->inTray();
}

void Form1::ShowAlert(const QByteArray& text)
{
    if (m_hooks)
        m_hooks->showAlert(text);
}

void Form1::SetAlertText(const QByteArray& text)
{
    if (m_hooks)
        m_hooks->setAlertText(text);
}

void Form1::CloseAlert()
{
    if (m_hooks)
        m_hooks->closeAlert();
}

// --- The exit ---

void Form1::closeEvent(QCloseEvent* event)
{
    if (m_unloaded || queryUnload(true))
        event->accept();
    else
        event->ignore();
}

bool Form1::queryUnload(bool confirm)
{
    if (m_unloaded)
        return true;
    if (m_exitAfterMail)
        return false; // the exit is on its way
    if (confirm && m_dispatcher && m_dispatcher->sendAllUnderWay()) {
        // A long run must not keep the user from ending: it stops after the mail in hand, then ZUB ends.
        // Asked also when it was stopped already and still finishes that mail.
        if (m_prompts.ask(this,
                          QStringLiteral("„Alle Senden“ läuft noch. Abbrechen und ZUB beenden, sobald die E\u2011Mail "
                                         "in Arbeit abgeschlossen ist?"), // not broken at the hyphen
                          PromptIcon::Question, PromptButtons::OkCancel) != PromptAnswer::Ok)
            return false;
        if (!isIdle()) { // the question let events run: the run may have ended meanwhile
            m_exitAfterMail = true;
            m_dispatcher->stopForExit(false);
            closeOnceIdle();
            return false;
        }
    } else if (confirm && m_prompts.ask(this, QStringLiteral("Sind Sie sicher, ZUB zu beenden?"), PromptIcon::Question,
                                        PromptButtons::OkCancel) != PromptAnswer::Ok) {
        return false;
    }
    if (!isIdle()) {
        m_prompts.ask(this, QStringLiteral("ZUB ist zur Zeit beschäftigt.\r\nDas Programm kann nicht beendet werden!"),
                      PromptIcon::Exclamation, PromptButtons::Ok);
        return false;
    }
    unload();
    return true;
}

void Form1::unload()
{
    m_unloaded = true;
    m_clock.stop();
    // The exit can be reached from inside a dispatcher call (a prompt of its start check), so the
    // dispatcher stops polling now and goes once that call has returned.
    Dispatcher* dispatcher = m_dispatcher.release();
    if (dispatcher) {
        dispatcher->StopProcessing();
        dispatcher->setParent(this);
        dispatcher->deleteLater();
    }
    if (m_hooks) {
        m_hooks->removeTrayIcon();
        m_hooks->closeOtherWindows();
    }
    if (m_settings)
        m_settings->close();
    if (m_commands)
        m_commands->closeEditor();
    // Only the window's place is lost if this fails; the store's save below is what the user is asked about.
    QString placementError;
    if (!m_store.kadmelIni().write({.placement = currentPlacement()}, &placementError))
        qWarning().noquote() << placementError;
    saveBeforeExit();
    Q_EMIT unloaded();
}

void Form1::saveBeforeExit()
{
    QString error;
    if (m_terminating) {
        // No one may be there to click a message box: the caller says it on standard error.
        if (!m_store.SaveAll(&error))
            m_exitSaveError = error;
        return;
    }
    while (!m_store.SaveAll(&error)) {
        const QString text = QStringLiteral("Die Daten von ZUB konnten nicht gespeichert werden:\n") + error +
                             QStringLiteral("\n\nErneut versuchen oder ohne Speichern beenden?");
        if (m_prompts.ask(this, text, PromptIcon::Critical, PromptButtons::RetryOrEnd) != PromptAnswer::Retry)
            return;
    }
}

void Form1::requestTermination()
{
    if (m_unloaded || m_terminating)
        return;
    m_terminating = true;
    if (m_commands)
        m_commands->closeEditor(); // it holds the dispatcher off; its unsaved texts go as at the exit
    if (isIdle()) {
        queryUnload(false);
        close();
        return;
    }
    // No new job is taken; the mail in hand is cut short and the exit follows once it is filed.
    m_dispatcher->StopProcessing();
    closeOnceIdle();
    m_dispatcher->stopForExit();
}

void Form1::closeOnceIdle()
{
    // Queued, because the dispatcher is released by the exit and must not be inside its own signal then.
    connect(
        m_dispatcher.get(), &Dispatcher::idleChanged, this,
        [this](bool idle) {
            if (idle && !m_unloaded && isIdle()) {
                unload();
                close();
            }
        },
        Qt::QueuedConnection);
}

void Form1::commitData(QSessionManager& manager)
{
    // The end of the desktop session: the same exit as closing the window, where the session allows asking.
    if (m_unloaded)
        return;
    if (manager.allowsInteraction()) {
        const bool ok = queryUnload(true);
        manager.release();
        if (!ok)
            manager.cancel();
    } else if (!queryUnload(false)) {
        manager.cancel();
    }
}

void Form1::lastChanceSave()
{
    // The application ends by a route that passed no close (e.g. quit from elsewhere): save anyway.
    if (!m_unloaded && m_dispatcher) {
        m_unloaded = true;
        QString error;
        if (!m_store.SaveAll(&error)) {
            m_exitSaveError = error;
            QTextStream(stderr) << QStringLiteral("Kadmel Mail System: Die Daten von ZUB konnten beim Beenden "
                                                  "nicht gespeichert werden: ")
                                << error << Qt::endl;
        }
    }
}

} // namespace kadmel
