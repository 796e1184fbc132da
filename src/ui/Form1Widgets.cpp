// The main window's widgets, menus and status bar as built once, and the size it first opens at.
#include "ui/Form1.h"

#include "engine/ByteText.h"
#include "ui/Contrast.h"
#include "ui/FolderListModel.h"
#include "ui/FolderListView.h"
#include "ui/FolderNames.h"
#include "ui/FolderSortModel.h"
#include "ui/ProgressBox.h"
#include "ui/StatusCellDelegate.h"
#include "ui/StatusPanel.h"
#include "ui/TextRoom.h"
#include "ui/TrayHooks.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <tuple>

namespace kadmel {
namespace {

QAction* addNamedAction(QMenu* menu, const QString& text, const char* name)
{
    QAction* action = menu->addAction(text);
    action->setObjectName(QLatin1String(name));
    return action;
}

// A folder list's pop-up menu; its commands are found by name.
QMenu* popupMenu(QWidget* parent, const char* name, std::initializer_list<std::pair<QString, const char*>> commands)
{
    auto* menu = new QMenu(parent);
    menu->setObjectName(QLatin1String(name));
    for (const auto& [text, commandName] : commands)
        addNamedAction(menu, text, commandName);
    return menu;
}

} // namespace

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
    banner->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed); // cut on a narrow screen, not widening the window
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
    // The label is the button's own text, so it takes the scheme's colours; the picture is only the state's.
    for (auto [button, text, picture] : {std::tuple{m_start, QStringLiteral("Start"), Picture::Active},
                                         std::tuple{m_stop, QStringLiteral("Stop"), Picture::Inactive}}) {
        button->setText(text);
        button->setIcon(pictureIcon(picture));
        button->setIconSize(QSize(20, 20));
        QFont bold = button->font();
        bold.setBold(true);
        button->setFont(bold);
        makeLabelReadable(*button);
        button->setFixedSize(std::max(px(1455), button->sizeHint().width()), px(495));
        button->setEnabled(false);
        buttons->addWidget(button);
    }
    buttons->addStretch();
    left->addLayout(buttons);

    m_tree = new QTreeWidget(leftPane);
    m_tree->setObjectName(QStringLiteral("TV1"));
    m_tree->setHeaderHidden(true);
    m_tree->setIconSize(QSize(16, 16));
    // The captions must fit in the platform's font, which is wider than the one the twips were made for.
    const int captionWidth = m_tree->fontMetrics().horizontalAdvance(folderCaption(FailedFolder, MaxMails));
    const int treeWidth = std::max(px(2895), captionWidth + 3 * m_tree->indentation() + 16 + 16);
    // The splitter cuts no folder caption, unless the screen is so narrow (a large scale) that the
    // captions would take more than a quarter of it; the lists need the room more then.
    const QScreen* screen = this->screen();
    const int quarter = screen ? screen->availableGeometry().width() / 4 : treeWidth;
    m_tree->setMinimumWidth(std::min(treeWidth, quarter));
    m_tree->setMinimumHeight(px(3240));
    left->addWidget(m_tree, 1);

    m_stack = new QStackedWidget(m_splitter);
    m_stack->setContentsMargins(0, px(120), 0, 0);
    for (int f = 1; f <= 3; ++f) {
        auto* model = new FolderListModel(m_store.tables(), f, this);
        auto* sorted = new FolderSortModel(this);
        sorted->setSourceModel(model);
        auto* view = new FolderListView(m_stack);
        view->setObjectName(QStringLiteral("ListView1_%1").arg(f));
        view->setModel(sorted);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setShowGrid(false);
        view->setWordWrap(false);
        view->setIconSize(QSize(16, 16));
        view->setItemDelegateForColumn(FolderListModel::StatusColumn, new StatusCellDelegate(view));
        view->verticalHeader()->hide();
        view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        view->verticalHeader()->setDefaultSectionSize(20);
        view->horizontalHeader()->setHighlightSections(false);
        // A click on a header sorts by that column, the next the other way, the third back to folder order.
        view->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
        view->horizontalHeader()->setSortIndicatorClearable(true);
        view->setSortingEnabled(true);
        view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        view->setMinimumSize(px(10665) / 3, px(3735) / 2);
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
    m_stopSendAll = addNamedAction(file, QStringLiteral("Alle Senden &abbrechen"), "Mnu_File_StopSendAll");
    m_menuStart->setEnabled(false);
    m_menuStop->setEnabled(false);
    m_stopSendAll->setEnabled(false);
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
    const QString openText = QStringLiteral("Öffnen");
    const QString removeText = QStringLiteral("Entfernen");
    const QString removeAllText = QStringLiteral("Alle Entfernen");
    const QString saveText = QStringLiteral("Als E-Mail-Datei speichern…");
    m_menus = {
        popupMenu(this, "Mnu_O",
                  {{openText, "Mnu_O_Open"},
                   {saveText, "Mnu_O_SaveAs"},
                   {removeText, "Mnu_O_Remove"},
                   {removeAllText, "Mnu_O_RemoveAll"}}),
        popupMenu(this, "Mnu_Err",
                  {{openText, "Mnu_Err_Open"},
                   {saveText, "Mnu_Err_SaveAs"},
                   {QStringLiteral("Bearbeiten"), "Mnu_Err_Edit"},
                   {QStringLiteral("Senden"), "Mnu_Err_Send"},
                   {QStringLiteral("Alle Senden"), "Mnu_Err_SendAll"},
                   {removeText, "Mnu_Err_Remove"},
                   {removeAllText, "Mnu_Err_RemoveAll"}}),
        popupMenu(this, "Mnu_T",
                  {{openText, "Mnu_T_Open"},
                   {saveText, "Mnu_T_SaveAs"},
                   {QStringLiteral("Wiederherstellen"), "Mnu_T_Restore"},
                   {removeText, "Mnu_T_Remove"},
                   {removeAllText, "Mnu_T_RemoveAll"}}),
    };
    // Where the run was started, it can be stopped.
    m_menus[1]->insertAction(m_menus[1]->findChild<QAction*>(QStringLiteral("Mnu_Err_Remove")), m_stopSendAll);
    connect(m_stopSendAll, &QAction::triggered, this, [this] {
        if (m_dispatcher)
            m_dispatcher->stopSendAll();
    });
    for (int f = 1; f <= 3; ++f) {
        QAction* open = m_menus[f - 1]->actions().first();
        connect(open, &QAction::triggered, this, [this, f] { Q_EMIT openMailRequested(f); });
        QAction* save = m_menus[f - 1]->actions().at(1);
        connect(save, &QAction::triggered, this, [this, f] { saveSelectedAsFiles(f); });
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
            panel->setMinimumWidth(px(widths[i]) / 6);
        } else {
            // Its width whatever it shows; the folder's name and the progress may give up a third on a
            // screen too narrow for the whole bar, the state and the clock nothing.
            panel->setMaximumWidth(width);
            panel->setMinimumWidth(i == 0 || i >= 4 ? width : width * 2 / 3);
        }
        m_panels[i] = panel;
        bar->addPermanentWidget(panel, i == 1 ? 1 : 0);
    }
    // The progress box fills panel 3, so it stays over it however the window is sized.
    m_progress = new ProgressBox(m_panels[2]);
    m_progress->setFixedSize(px(2925 - 45), px(285 - 75));
    m_panels[2]->layout()->addWidget(m_progress);
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
    const int least =
        std::max({px(13545), treeWidth + listWidth, minimumSizeHint().width(), statusBar()->sizeHint().width()});
    m_panels[1]->setMinimumWidth(smallPanel);
    // Without a remembered place: four fifths of the screen (at most 1200 x 800), enough for some twenty
    // rows at 1280 x 800; wider where the Status texts want it and a tenth of the screen is left.
    int width = least;
    int height = px(4845) + menuBar()->sizeHint().height();
    if (const QScreen* screen = this->screen()) {
        const QSize room = screen->availableGeometry().size();
        const int wanted = std::max(std::min(room.width() * 4 / 5, 1200), treeWidth + wholeListWidth);
        width = std::max(least, std::min(wanted, room.width() * 9 / 10));
        height = std::max(height, std::min(room.height() * 4 / 5, 800));
    }
    resize(width, height);
    m_splitter->setSizes({m_tree->minimumWidth(), width - m_tree->minimumWidth()});
}

} // namespace kadmel
