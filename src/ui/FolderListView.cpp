#include "ui/FolderListView.h"

#include "ui/TextRoom.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QStyleOptionHeader>
#include <algorithm>
#include <numeric>

namespace kadmel {
namespace {

// Qt draws an ascending order as an arrow pointing down; here it points up, as file lists show it.
class FolderHeader : public QHeaderView
{
public:
    using QHeaderView::QHeaderView;

protected:
    void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override
    {
        QHeaderView::initStyleOptionForIndex(option, logicalIndex);
        if (option->sortIndicator == QStyleOptionHeader::SortDown)
            option->sortIndicator = QStyleOptionHeader::SortUp;
        else if (option->sortIndicator == QStyleOptionHeader::SortUp)
            option->sortIndicator = QStyleOptionHeader::SortDown;
    }
};

} // namespace

QList<int> fittedWidths(const QList<int>& wanted, const QList<int>& least, int room)
{
    const int excess = std::accumulate(wanted.begin(), wanted.end(), 0) - room;
    if (excess <= 0)
        return wanted;
    qint64 slack = 0;
    for (qsizetype c = 0; c < wanted.size(); ++c)
        slack += std::max(0, wanted.at(c) - least.value(c));
    QList<int> widths;
    for (qsizetype c = 0; c < wanted.size(); ++c) {
        const int own = std::max(0, wanted.at(c) - least.value(c));
        // Rounded up, so that the columns together never need more than the room.
        const int given = slack <= excess ? own : int((qint64(own) * excess + slack - 1) / slack);
        widths.append(wanted.at(c) - given);
    }
    return widths;
}

FolderListView::FolderListView(QWidget* parent) : QTableView(parent)
{
    auto* header = new FolderHeader(Qt::Horizontal, this);
    header->setSectionsClickable(true);
    setHorizontalHeader(header);
    header->setStretchLastSection(true);
    setTabKeyNavigation(false); // Tab goes on to the next part of the window, not to the next cell
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(header, &QHeaderView::sectionResized, this, [this](int column, int, int width) {
        if (!m_fitting && column < m_wanted.size())
            m_wanted[column] = width;
    });
}

void FolderListView::setModel(QAbstractItemModel* model)
{
    QTableView::setModel(model);
    m_wanted.clear();
    for (int c = 0; c < model->columnCount(); ++c)
        m_wanted.append(columnWidth(c));
    // After the view's own handling of the change, which drops the selection of a row that went.
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { m_reselect = selectedRow(); });
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this](const QModelIndex&, int first, int last) {
        const int selected = selectedRow();
        m_reselect = selected >= first && selected <= last ? first : -1;
    });
    connect(model, &QAbstractItemModel::modelReset, this, &FolderListView::selectAfterRemoval);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &FolderListView::selectAfterRemoval);
}

QList<int> FolderListView::wantedWidths() const
{
    QList<int> widths = m_wanted;
    if (!widths.isEmpty())
        widths.last() = columnWidth(int(widths.size()) - 1);
    return widths;
}

void FolderListView::setWantedWidths(const QList<int>& widths)
{
    for (qsizetype c = 0; c < widths.size() && c < m_wanted.size(); ++c)
        m_wanted[c] = widths.at(c);
    fitColumns();
}

void FolderListView::fitColumns()
{
    const int last = int(m_wanted.size()) - 1;
    if (last < 1)
        return;
    // The free texts give way first, down to their headers, while ID, dates and size stay whole: so far the
    // last (Status) takes what they give up, until it holds its kind and code (the reply's words come with the
    // room the others leave). In a list narrower still all give way, down to their headers. Narrower than that,
    // the list scrolls sideways rather than cut every column to a few letters.
    QList<int> least, headers;
    for (int c = 0; c < last; ++c) {
        least.append(listColumnWidth(*this, c, 0));
        headers.append(listColumnWidth(*this, c, 0, false));
    }
    const int room = viewport()->width();
    const int lastLeast = std::max(listColumnWidth(*this, last, 0, false), statusColumnWidth(*this));
    QList<int> widths = fittedWidths(m_wanted.first(last), least, room - lastLeast);
    if (std::accumulate(widths.begin(), widths.end(), lastLeast) > room)
        widths = fittedWidths(widths, headers, room - lastLeast);
    m_fitting = true;
    for (int c = 0; c < last; ++c)
        setColumnWidth(c, widths.at(c));
    // The header would keep the last column at its former width; it takes what is left.
    setColumnWidth(last, std::max(lastLeast, room - std::accumulate(widths.begin(), widths.end(), 0)));
    m_fitting = false;
}

void FolderListView::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event); // the viewport's size: the window's, less a vertical scroll bar
    fitColumns();
}

int FolderListView::selectedRow() const
{
    // With several selected, the first of them in the list.
    const QModelIndexList rows = selectionModel() ? selectionModel()->selectedRows() : QModelIndexList();
    const auto first = std::min_element(rows.cbegin(), rows.cend(),
                                        [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    return first == rows.cend() ? -1 : first->row();
}

void FolderListView::selectAfterRemoval()
{
    const int rows = model()->rowCount();
    if (m_reselect >= 0 && rows > 0 && !selectionModel()->hasSelection())
        selectRow(std::min(m_reselect, rows - 1));
    m_reselect = -1;
}

QModelIndex FolderListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    const int rows = model() ? model()->rowCount() : 0;
    if ((action == MoveHome || action == MoveEnd) && rows > 0) // the first or last mail, not column
        return model()->index(action == MoveHome ? 0 : rows - 1, std::max(0, currentIndex().column()));
    return QTableView::moveCursor(action, modifiers);
}

void FolderListView::focusInEvent(QFocusEvent* event)
{
    QTableView::focusInEvent(event);
    // Entered from the keyboard, the list shows where it is and has a mail for Enter, Entf and the menu.
    const bool byKeyboard = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    if (byKeyboard && model() && model()->rowCount() > 0 && !selectionModel()->hasSelection())
        selectRow(std::max(0, currentIndex().row()));
}

void FolderListView::keyPressEvent(QKeyEvent* event)
{
    const int selected = selectedRow();
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier && selected >= 0) {
        const QModelIndex cell = model()->index(selected, 0);
        scrollTo(cell);
        Q_EMIT customContextMenuRequested(visualRect(cell).center());
        return event->accept();
    }
    QTableView::keyPressEvent(event);
}

} // namespace kadmel
