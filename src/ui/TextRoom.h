#pragma once

#include <QStringList>

class QTableView;

namespace kadmel {

// The texts the window must have room for at its first size, whatever the platform's font.

// The text of every result code.
QStringList resultTexts();
// Everything panel 2 of the status bar says about a mail, with the longest ID.
QStringList messagePanelTexts();
// The longest text a folder list column can hold; empty for the free texts (sender, recipient, subject).
QString longestCellText(int column);

// A folder list column's width: the design width, or more where its header (with a sort arrow) or,
// when asked, its longest text would not fit.
int listColumnWidth(const QTableView& view, int column, int designPixels, bool withLongestText = true);
// Room in the Status column for a failure's kind and code.
int statusColumnWidth(const QTableView& view);

} // namespace kadmel
