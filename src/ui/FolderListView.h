#pragma once

#include <QList>
#include <QTableView>

namespace kadmel {

// Widths for all but a list's last column so that, with the last at least lastLeast wide, they fill no
// more than room: each gives up the same share of what it has beyond its least width.
QList<int> fittedWidths(const QList<int>& wanted, const QList<int>& least, int room);

// A folder list as the keyboard and the window's width want it. Tab leaves it and the arrows move inside;
// Home and End go to the first and last mail; Shift+F10 opens the context menu at the selected mail; a
// list entered by Tab selects a mail, and when the selected mail's row goes, the next one is selected.
// The last column stretches, and the widths given to the others shrink only as far as the list's width
// requires, so no horizontal scroll bar appears at the window's size unless the columns' least widths
// (headers, whole dates, the Status's kind and code) need more.
class FolderListView : public QTableView
{
    Q_OBJECT
public:
    explicit FolderListView(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;
    // The widths the program or the user gave the columns, before fitting; the last column's as shown.
    QList<int> wantedWidths() const;
    void setWantedWidths(const QList<int>& widths);

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitColumns();
    int selectedRow() const; // -1 without one
    void selectAfterRemoval();

    QList<int> m_wanted;
    int m_reselect = -1; // the row to select once the selected one is gone
    bool m_fitting = false;
};

} // namespace kadmel
