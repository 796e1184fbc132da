#pragma once

#include "engine/Dispatcher.h"
#include "engine/DispatcherView.h"
#include "ui/Form5.h"
#include "ui/MailFileSaving.h"
#include "ui/Pictures.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <memory>

class QAction;
class QMenu;
class QPushButton;
class QSessionManager;
class QSplitter;
class QStackedWidget;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;

namespace kadmel {

class FolderCommands;
class FolderListModel;
class FolderListView;
class FolderSortModel;
class ProgressBox;
class Prompts;
class SecretStore;
class StatusPanel;
class Store;
class TrayHooks;
struct WindowPlacement;

struct MainWindowOptions
{
    EngineTimings engine;
    FolderPicker folderPicker = systemFolderPicker();
    SaveFilePicker saveFilePicker = systemSaveFilePicker();
    int removalFilesPerStep = 20; // mail files deleted or renamed per turn of the event loop
    // The desktop's keyring for the sign-in's secrets; none without one.
    SecretStore* secrets = nullptr;
};

// The main window: folder tree, one list per folder, Start and Stop, the status bar; the engine's view.
// Every way of closing it runs the same exit: confirmation, refusal while a mail is in hand (during
// "Alle Senden" the offer to stop the run and end after that mail), save.
class Form1 : public QMainWindow, public DispatcherView
{
    Q_OBJECT
public:
    Form1(Store& store, Prompts& prompts, MainWindowOptions options = {}, QWidget* parent = nullptr);
    ~Form1() override;

    // The start-up of the window: lists, tree, status bar, the dispatcher, auto-start. Shows the window.
    void load();
    // Tray icon, alert and the other windows; without them the window never goes to the tray.
    void setTrayHooks(TrayHooks* hooks) { m_hooks = hooks; }

    Store& store() { return m_store; }
    Dispatcher* dispatcher() { return m_dispatcher.get(); }
    FolderListModel* listModel(int folder) const;
    QTableView* list(int folder) const;
    QMenu* contextMenu(int folder) const;
    StatusPanel* panel(int number) const;
    ProgressBox* progressBox() const { return m_progress; }
    QTreeWidgetItem* node(int number) const; // 1 … 6 in the order of the tree
    Form5* settingsDialog() const { return m_settings; }
    FolderCommands* commands() const { return m_commands; }
    Prompts& prompts() const { return m_prompts; }
    QSplitter* splitter() const { return m_splitter; }
    // Place, size, split and column widths as the user left them; kept in kadmel.ini at the exit.
    WindowPlacement currentPlacement() const;

    // 1-based folder position of the mail the user selected in the folder's list, 0 without one; its ID.
    qint16 selectedPosition(int folder) const;
    qint16 selectedId(int folder) const;
    // Every mail selected there: positions ascending, and their IDs in that order.
    QList<qint16> selectedPositions(int folder) const;
    QList<qint16> selectedIds(int folder) const;
    int visibleFolder() const;

    // Empties the three lists and fills them again from the folders; no row stays bold. Writes no file.
    void RefreshLists();
    // Panel 2 = the folder's count & " Objekt(e)".
    void showFolderCount(int folder);
    // Tree nodes 3, 4, 5 from the current counts.
    void updateFolderCaptions();
    void openSettingsDialog();
    // "Als E-Mail-Datei speichern…" for the mail with this ID, from a list's menu or the viewer; panel 2 says where.
    void saveMailAsFile(qint16 id, QWidget* parent);
    // The same for the mails selected in the folder's list: with several, one file each in a folder the user chooses.
    void saveSelectedAsFiles(int folder);
    // "Anhang speichern…" for the mail's attachment at this index, from the viewer; panel 2 says where.
    void saveAttachment(qint16 id, int index, QWidget* parent);

    // A termination signal: the exit without asking; a mail in hand is cut short and filed first.
    // A failed final save asks nothing then: its reason is exitSaveError().
    void requestTermination();
    bool isUnloaded() const { return m_unloaded; }
    const QString& exitSaveError() const { return m_exitSaveError; }
    Prompts& prompts() { return m_prompts; }

    // DispatcherView
    void setServiceState(bool active) override;
    void setMessage(const QByteArray& text) override;
    void setMessagePicture(MessagePicture picture) override;
    void placeProgressBar() override;
    void SetPBValue(qint32 value, qint32 maximum, qint16 option) override;
    void mailChanged(const MailChange& change) override;
    void foldersRenumbered() override;
    void setRetryTimes(const QMap<qint16, QDateTime>& nextAttempts) override;
    void setRunProgress(const QByteArray& text) override;
    void setIdle(bool idle) override;
    void startRefused(StartCheck check, const QString& reason) override;
    bool inTray() const override;
    void ShowAlert(const QByteArray& text) override;
    void SetAlertText(const QByteArray& text) override;
    void CloseAlert() override;

Q_SIGNALS:
    // "Öffnen" or a double-click on a row of the folder's list.
    void openMailRequested(int folder);
    void aboutRequested();
    // The exit has run: the store is saved (or the user chose to end anyway); the program may end.
    void unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    static constexpr int KeyRole = Qt::UserRole; // a tree node's key
    void buildWidgets();
    void buildMenus();
    void buildStatusBar();
    void BuildFolderTree();
    bool FillLists(QString* error); // false: the index write failed, with the reason
    void fitFirstSize();
    void nodeClicked(QTreeWidgetItem* item);
    void showFolder(int folder);
    void listContextMenu(int folder, const QPoint& pos);
    void listDoubleClicked(int folder);
    void addListKeys(int folder, QTableView* view);
    void placeWindow(const WindowPlacement& placement);
    void restorePanes(const WindowPlacement& placement);
    void updateClock();
    bool isIdle() const;
    // Stop ends polling and a "send all" run: it is offered while either goes on.
    void updateStopCommands();
    // The exit runs as soon as the mail in hand is filed.
    void closeOnceIdle();
    // Confirmation (unless asked not to), busy refusal or the end after a stopped run, then the unload.
    // True when the window may close now.
    bool queryUnload(bool confirm);
    void unload();
    void saveBeforeExit();
    void commitData(QSessionManager& manager);
    void lastChanceSave();
    int px(int twips) const;
    // Panel 2: the engine's last message, with a run's progress after it.
    QString engineMessage() const;

    Store& m_store;
    Prompts& m_prompts;
    MainWindowOptions m_options;
    TrayHooks* m_hooks = nullptr;
    std::unique_ptr<Dispatcher> m_dispatcher;
    std::array<FolderListModel*, 3> m_models{};
    std::array<FolderListView*, 3> m_lists{};
    std::array<FolderSortModel*, 3> m_sorted{};
    std::array<QMenu*, 3> m_menus{};
    std::array<StatusPanel*, 6> m_panels{};
    QStackedWidget* m_stack = nullptr;
    QSplitter* m_splitter = nullptr;
    QTreeWidget* m_tree = nullptr;
    QPushButton* m_start = nullptr; // Command8
    QPushButton* m_stop = nullptr;  // Command9
    QAction* m_menuStart = nullptr;
    QAction* m_menuStop = nullptr;
    QAction* m_stopSendAll = nullptr; // "Alle Senden abbrechen", in "Datei" and the failed folder's menu
    ProgressBox* m_progress = nullptr;
    QPointer<Form5> m_settings;
    FolderCommands* m_commands = nullptr;
    QTimer m_clock;
    QString m_message;           // panel 2's text from the engine
    QString m_runProgress;       // after it while a run of several mails goes on
    int m_messagePanelWidth = 0; // panel 2 with its longest text
    bool m_unloaded = false;
    bool m_terminating = false;
    bool m_exitAfterMail = false; // "Beenden" stopped a run; the exit follows the mail in hand
    QString m_exitSaveError;
};

} // namespace kadmel
