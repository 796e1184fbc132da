#include "ui/Form1.h"

#include "engine/ByteText.h"
#include "store/Ansi.h"
#include "store/Store.h"
#include "ui/FolderCommands.h"
#include "ui/FolderListModel.h"
#include "ui/FolderSortModel.h"
#include "ui/ProgressBox.h"
#include "ui/Prompts.h"
#include "ui/StatusPanel.h"
#include "ui/TextRoom.h"
#include "ui/TrayHooks.h"
#include "ui/WindowPlacement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDebug>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSessionManager>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kadmel {
namespace {

const QString WindowCaption = QStringLiteral("Kadmel Mail System v3.0");
constexpr int KeyRole = Qt::UserRole;

// "Gesendete Objekte " and its siblings, each with its trailing blank.
QString folderName(int folder)
{
    switch (folder) {
    case SentFolder:
        return QStringLiteral("Gesendete Objekte ");
    case FailedFolder:
        return QStringLiteral("Fehlgeschl. Objekte ");
    default:
        return QStringLiteral("Gelöschte Objekte ");
    }
}

QString folderCaption(int folder, qint16 count)
{
    return folderName(folder) + QStringLiteral(" (") + QString::number(count) + QLatin1Char(')');
}

Picture folderPicture(int folder)
{
    switch (folder) {
    case SentFolder:
        return Picture::MailSent;
    case FailedFolder:
        return Picture::MailError;
    default:
        return Picture::Trash;
    }
}

QAction* addNamedAction(QMenu* menu, const QString& text, const char* name)
{
    QAction* action = menu->addAction(text);
    action->setObjectName(QLatin1String(name));
    return action;
}

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

void Form1::buildWidgets()
{
    auto* central = new QWidget(this);
    auto* grid = new QGridLayout(central);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);

    auto* banner = new QLabel(central);
    banner->setObjectName(QStringLiteral("Image1"));
    banner->setPixmap(namedPixmap(QStringLiteral("Banner")));
    banner->setFixedHeight(px(720));
    banner->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    banner->setAutoFillBackground(true);
    QPalette bannerPalette = banner->palette();
    bannerPalette.setColor(QPalette::Window, QColor(0x4a, 0x78, 0xb8));
    banner->setPalette(bannerPalette);
    grid->addWidget(banner, 0, 0, 1, 2);

    m_splitter = new QSplitter(Qt::Horizontal, central);
    m_splitter->setObjectName(QStringLiteral("Splitter1"));
    m_splitter->setChildrenCollapsible(false);
    auto* leftPane = new QWidget(m_splitter);
    auto* left = new QVBoxLayout(leftPane);
    left->setContentsMargins(0, px(120), 0, 0);
    left->setSpacing(0);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(0);
    m_start = new QPushButton(leftPane);
    m_start->setObjectName(QStringLiteral("Command8"));
    m_stop = new QPushButton(leftPane);
    m_stop->setObjectName(QStringLiteral("Command9"));
    for (auto [button, picture] :
         {std::pair{m_start, QStringLiteral("StartButton")}, std::pair{m_stop, QStringLiteral("StopButton")}}) {
        const QPixmap pixmap = namedPixmap(picture);
        button->setIcon(pixmap);
        button->setIconSize(pixmap.size());
        button->setFixedSize(px(1455), px(495));
        button->setEnabled(false);
        button->setToolTip(picture == QStringLiteral("StartButton") ? QStringLiteral("Start") : QStringLiteral("Stop"));
        buttons->addWidget(button);
    }
    buttons->addStretch();
    left->addLayout(buttons);

    m_tree = new QTreeWidget(leftPane);
    m_tree->setObjectName(QStringLiteral("TV1"));
    m_tree->setHeaderHidden(true);
    m_tree->setIconSize(QSize(16, 16));
    // The captions must fit in the platform's font, which is wider than the one the twips were made for.
    const int captionWidth = m_tree->fontMetrics().horizontalAdvance(QStringLiteral("Fehlgeschl. Objekte  (32767)"));
    const int treeWidth = std::max(px(2895), captionWidth + 3 * m_tree->indentation() + 16 + 16);
    m_tree->setMinimumWidth(treeWidth); // the splitter never cuts a folder caption
    m_tree->setMinimumHeight(px(3240));
    left->addWidget(m_tree, 1);

    m_stack = new QStackedWidget(m_splitter);
    m_stack->setContentsMargins(0, px(120), 0, 0);
    for (int f = 1; f <= 3; ++f) {
        auto* model = new FolderListModel(m_store.tables(), f, this);
        auto* sorted = new FolderSortModel(this);
        sorted->setSourceModel(model);
        auto* view = new QTableView(m_stack);
        view->setObjectName(QStringLiteral("ListView1_%1").arg(f));
        view->setModel(sorted);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setShowGrid(false);
        view->setWordWrap(false);
        view->setIconSize(QSize(16, 16));
        view->verticalHeader()->hide();
        view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        view->verticalHeader()->setDefaultSectionSize(20);
        view->horizontalHeader()->setHighlightSections(false);
        // A click on a header sorts by that column, the next the other way, the third back to folder order.
        view->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
        view->horizontalHeader()->setSortIndicatorClearable(true);
        view->setSortingEnabled(true);
        view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        view->setMinimumSize(px(10665) / 2, px(3735) / 2);
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this,
                [this, f](const QPoint& pos) { listContextMenu(f, pos); });
        connect(view, &QAbstractItemView::doubleClicked, this, [this, f] { listDoubleClicked(f); });
        addListKeys(f, view);
        m_models[f - 1] = model;
        m_lists[f - 1] = view;
        m_sorted[f - 1] = sorted;
        m_stack->addWidget(view);
    }
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({treeWidth, px(10665)});
    grid->addWidget(m_splitter, 1, 0, 1, 2);
    grid->setRowStretch(1, 1);
    setCentralWidget(central);
    connect(m_tree, &QTreeWidget::itemClicked, this, &Form1::nodeClicked);
    connect(m_tree, &QTreeWidget::itemActivated, this, &Form1::nodeClicked);
    // Moving through the tree with the keys shows the folders too, but opens no dialog.
    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item && m_tree->hasFocus() && item->data(0, KeyRole).toString().startsWith(QStringLiteral("P1_1_")))
            nodeClicked(item);
    });
    connect(m_start, &QPushButton::clicked, this, [this] {
        if (m_dispatcher)
            m_dispatcher->StartProcessing();
    });
    connect(m_stop, &QPushButton::clicked, this, [this] {
        if (m_dispatcher)
            m_dispatcher->StopProcessing();
    });
}

void Form1::buildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&Datei"));
    file->setObjectName(QStringLiteral("Mnu_File"));
    m_menuStart = addNamedAction(file, QStringLiteral("&Start"), "Mnu_File_Start");
    m_menuStop = addNamedAction(file, QStringLiteral("S&top"), "Mnu_File_Stop");
    m_menuStart->setEnabled(false);
    m_menuStop->setEnabled(false);
    file->addSeparator();
    QAction* tray = addNamedAction(file, QStringLiteral("&Minimieren"), "Mnu_File_Tray");
    QAction* exit = addNamedAction(file, QStringLiteral("&Beenden"), "Mnu_File_Exit");
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(m_menuStart, &QAction::triggered, m_start, &QPushButton::click);
    connect(m_menuStop, &QAction::triggered, m_stop, &QPushButton::click);
    connect(tray, &QAction::triggered, this, [this] {
        if (m_hooks)
            m_hooks->minimizeToTray();
        else
            showMinimized(); // without a tray the task bar keeps the window reachable
    });
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Hife"));
    help->setObjectName(QStringLiteral("Mnu_Help"));
    QAction* about = addNamedAction(help, QStringLiteral("&Über ZUB"), "Mnu_Help_About");
    connect(about, &QAction::triggered, this, &Form1::aboutRequested);

    // The folder menus open only as pop-ups over their list; their commands are connected by name.
    auto* sent = new QMenu(this);
    sent->setObjectName(QStringLiteral("Mnu_O"));
    addNamedAction(sent, QStringLiteral("Öffnen"), "Mnu_O_Open");
    addNamedAction(sent, QStringLiteral("Entfernen"), "Mnu_O_Remove");
    addNamedAction(sent, QStringLiteral("Alle Entfernen"), "Mnu_O_RemoveAll");
    auto* failed = new QMenu(this);
    failed->setObjectName(QStringLiteral("Mnu_Err"));
    addNamedAction(failed, QStringLiteral("Öffnen"), "Mnu_Err_Open");
    addNamedAction(failed, QStringLiteral("Bearbeiten"), "Mnu_Err_Edit");
    addNamedAction(failed, QStringLiteral("Senden"), "Mnu_Err_Send");
    addNamedAction(failed, QStringLiteral("Alle Senden"), "Mnu_Err_SendAll");
    addNamedAction(failed, QStringLiteral("Entfernen"), "Mnu_Err_Remove");
    addNamedAction(failed, QStringLiteral("Alle Entfernen"), "Mnu_Err_RemoveAll");
    auto* deleted = new QMenu(this);
    deleted->setObjectName(QStringLiteral("Mnu_T"));
    addNamedAction(deleted, QStringLiteral("Öffnen"), "Mnu_T_Open");
    addNamedAction(deleted, QStringLiteral("Entfernen"), "Mnu_T_Remove");
    addNamedAction(deleted, QStringLiteral("Alle Entfernen"), "Mnu_T_RemoveAll");
    m_menus = {sent, failed, deleted};
    for (int f = 1; f <= 3; ++f) {
        QAction* open = m_menus[f - 1]->actions().first();
        connect(open, &QAction::triggered, this, [this, f] { Q_EMIT openMailRequested(f); });
    }
}

void Form1::buildStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(true);
    static constexpr int widths[6] = {795, 6675, 2925, 1440, 600, 1005};
    // Each panel holds the longest text it can show in the platform's font; all but panel 2 keep one
    // width, so a change of state or folder moves nothing. Panel 2 takes what the others leave.
    const QString time = QString::fromLatin1(clockText(QTime(0, 0)));
    const QString date = QString::fromLatin1(dayText(QDate(2000, 10, 10)));
    const QStringList texts[6] = {{QStringLiteral("Aktif"), QStringLiteral("Inaktif")},
                                  messagePanelTexts(),
                                  {},
                                  {folderName(SentFolder) + QLatin1Char(' '),
                                   folderName(FailedFolder) + QLatin1Char(' '),
                                   folderName(DeletedFolder) + QLatin1Char(' ')},
                                  {time},
                                  {date}};
    for (int i = 0; i < 6; ++i) {
        auto* panel = new StatusPanel(0, bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i + 1));
        const int width = std::max(px(widths[i]), panel->widthFor(texts[i], i < 4));
        if (i == 1) {
            m_messagePanelWidth = width; // given at the first size; the window may shrink below it later
            panel->setMinimumWidth(px(widths[i]) / 3);
        } else {
            panel->setFixedWidth(width);
        }
        m_panels[i] = panel;
        bar->addPermanentWidget(panel, i == 1 ? 1 : 0);
    }
    // The progress box fills panel 3, so it stays over it however the window is sized.
    m_progress = new ProgressBox(m_panels[2]);
    m_progress->setFixedSize(px(2925 - 45), px(285 - 75));
    m_panels[2]->layout()->addWidget(m_progress);
}

void Form1::load()
{
    Settings& settings = m_store.settings();
    if (settings.WatchFolder.isEmpty())
        settings.WatchFolder = defaultWatchFolder();
    fitFirstSize();
    const WindowPlacement placement = loadWindowPlacement(m_store.programFolder());
    placeWindow(placement);
    show();
    setWindowTitle(WindowCaption);
    m_start->setEnabled(true);
    m_menuStart->setEnabled(true);

    m_dispatcher = std::make_unique<Dispatcher>(m_store, *this, m_options.engine);
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

void Form1::fitFirstSize()
{
    // Every column but the last fits its header and longest text, room kept for a vertical scroll bar;
    // the last (Status) takes the rest and whatever the window gains. The first size gives panel 2 its
    // longest text and, as far as nine tenths of the screen allow, Status its longest too.
    const int last = FolderListModel::ColumnCount - 1;
    int listWidth = 0;
    int wholeListWidth = 0;
    for (QTableView* view : m_lists) {
        int sum = 2 * view->frameWidth() + view->verticalScrollBar()->sizeHint().width();
        for (int c = 0; c < last; ++c) {
            view->setColumnWidth(c, listColumnWidth(*view, c, px(FolderListModel::columnTwips(c))));
            sum += view->columnWidth(c);
        }
        const int lastDesign = px(FolderListModel::columnTwips(last));
        view->setColumnWidth(last, listColumnWidth(*view, last, lastDesign, false));
        view->horizontalHeader()->setStretchLastSection(true);
        listWidth = std::max(listWidth, sum + view->columnWidth(last));
        wholeListWidth = std::max(wholeListWidth, sum + listColumnWidth(*view, last, lastDesign));
    }
    const int smallPanel = m_panels[1]->minimumWidth();
    m_panels[1]->setMinimumWidth(m_messagePanelWidth);
    const int treeWidth = m_tree->minimumWidth() + m_splitter->handleWidth();
    const int least = std::max({px(13545), treeWidth + listWidth, minimumSizeHint().width()});
    m_panels[1]->setMinimumWidth(smallPanel);
    int width = least;
    if (const QScreen* screen = this->screen())
        width = std::max(least, std::min(treeWidth + wholeListWidth, screen->availableGeometry().width() * 9 / 10));
    resize(width, px(4845) + menuBar()->sizeHint().height());
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
    m_settings = new Form5(m_store, m_prompts, m_options.folderPicker, this);
    m_settings->setAttribute(Qt::WA_DeleteOnClose);
    m_settings->setWindowModality(Qt::ApplicationModal);
    connect(m_settings, &Form5::settingsSaved, this, [this] {
        if (m_dispatcher)
            m_dispatcher->updateJobFolder();
    });
    m_settings->show();
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

qint16 Form1::selectedId(int folder) const
{
    const qint16 pos = selectedPosition(folder);
    return pos > 0 ? listModel(folder)->idAt(pos - 1) : 0;
}

void Form1::listContextMenu(int folder, const QPoint& pos)
{
    QTableView* view = list(folder);
    const QModelIndex under = view->indexAt(pos);
    if (under.isValid())
        view->selectRow(under.row());
    if (listModel(folder)->rowCount() > 0 && selectedPosition(folder) >= 1)
        contextMenu(folder)->popup(view->viewport()->mapToGlobal(pos));
}

void Form1::listDoubleClicked(int folder)
{
    if (listModel(folder)->rowCount() > 0 && selectedPosition(folder) >= 1)
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
    for (int f = 0; f < 3; ++f) {
        for (int c = 0; c < FolderListModel::ColumnCount; ++c)
            placement.columns.at(f).append(m_lists.at(f)->columnWidth(c));
    }
    return placement;
}

void Form1::placeWindow(const WindowPlacement& placement)
{
    if (placement.geometry) {
        // A place on a screen that is no longer there: the size is kept, the desktop chooses the place.
        QRect rect = *placement.geometry;
        const QScreen* screen = QGuiApplication::screenAt(rect.center());
        const QSize room = (screen ? screen : QGuiApplication::primaryScreen())->availableGeometry().size();
        rect.setSize(rect.size().boundedTo(room));
        if (screen)
            setGeometry(rect);
        else
            resize(rect.size());
    }
    if (placement.maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
}

void Form1::restorePanes(const WindowPlacement& placement)
{
    if (placement.splitter.size() == 2)
        m_splitter->setSizes(placement.splitter);
    for (int f = 0; f < 3; ++f) {
        const QList<int>& widths = placement.columns.at(f);
        for (int c = 0; c < widths.size() && c < FolderListModel::ColumnCount; ++c)
            m_lists.at(f)->setColumnWidth(c, widths.at(c));
    }
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

// --- DispatcherView ---

void Form1::setServiceState(bool active)
{
    m_panels[0]->setText(active ? QStringLiteral("Aktif") : QStringLiteral("Inaktif"));
    m_panels[0]->setPicture(active ? Picture::Active : Picture::Inactive);
    m_start->setEnabled(!active);
    m_menuStart->setEnabled(!active);
    m_stop->setEnabled(active);
    m_menuStop->setEnabled(active);
    if (m_hooks)
        m_hooks->serviceStateChanged(active);
}

void Form1::setMessage(const QByteArray& text)
{
    m_panels[1]->setText(fromAnsi(text));
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

void Form1::AddMailRow(int folder, qint16 id, bool bold)
{
    if (folder >= 1 && folder <= 3)
        listModel(folder)->appendRow(id, bold);
}

void Form1::removeMailRow(int folder, qint16 pos)
{
    if (folder >= 1 && folder <= 3)
        listModel(folder)->removeRowAt(pos);
}

void Form1::setRowStatus(int folder, qint16 pos, const QByteArray& statusText)
{
    if (folder >= 1 && folder <= 3)
        listModel(folder)->setRowStatus(pos, statusText);
}

void Form1::setFolderCaptions(const QByteArray& sent, const QByteArray& failed, const QByteArray& deleted)
{
    const QByteArray captions[3] = {sent, failed, deleted};
    for (int f = 1; f <= 3; ++f) {
        if (QTreeWidgetItem* item = node(f + 2))
            item->setText(0, fromAnsi(captions[f - 1]));
    }
}

void Form1::setIdle(bool idle)
{
    // The window asks the dispatcher's IdleFlag when it needs it; termination waits for idleChanged.
    // With no mail in hand there is no progress to show.
    if (idle)
        m_progress->clear();
}

void Form1::startRefused(StartCheck reason)
{
    if (reason == StartCheck::IncompleteSmtp) {
        m_prompts.ask(this, QStringLiteral("Überprüfen Sie Ihre Einstellungen !..."), PromptIcon::Exclamation,
                      PromptButtons::Ok);
        openSettingsDialog();
    } else if (reason == StartCheck::NoWatchFolder) {
        m_prompts.ask(this, QStringLiteral("KADMEL-Ordner nicht gewählt."), PromptIcon::Critical, PromptButtons::Ok);
    } else if (reason == StartCheck::UnusableEncryption) {
        // Panel 2 holds the reason the dispatcher read.
        m_prompts.ask(this,
                      QStringLiteral("Der Dienst wird nicht gestartet.\n") + m_panels[1]->text() +
                          QStringLiteral("\nBitte die Verschlüsselung in den Einstellungen wählen."),
                      PromptIcon::Critical, PromptButtons::Ok);
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
    if (confirm && m_prompts.ask(this, QStringLiteral("Sind Sie sicher ZUB zu beenden?"), PromptIcon::Question,
                                 PromptButtons::OkCancel) != PromptAnswer::Ok)
        return false;
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
    if (!saveWindowPlacement(m_store.programFolder(), currentPlacement(), &placementError))
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
    // No new job is taken; the mail in hand is cut short and the exit follows once it is filed. Queued,
    // because the dispatcher is released by the exit and must not be inside its own signal then.
    m_dispatcher->StopProcessing();
    connect(
        m_dispatcher.get(), &Dispatcher::idleChanged, this,
        [this](bool idle) {
            if (idle && !m_unloaded && isIdle()) {
                queryUnload(false);
                close();
            }
        },
        Qt::QueuedConnection);
    m_dispatcher->stopForExit();
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
        m_store.SaveAll();
    }
}

} // namespace kadmel
