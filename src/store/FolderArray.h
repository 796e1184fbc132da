#pragma once

#include <QList>

namespace kadmel {

// One folder as its file holds it: the count and the whole array, element 0 included.
// An empty `ids` is an array that was never dimensioned. Positions are 1-based.
struct FolderArray
{
    qint16 count = 0;
    QList<qint16> ids;

    qint16 at(qint16 pos) const { return ids.at(pos); }
    QList<qint16> entries() const; // positions 1 … count

    // Count + 1, array re-dimensioned to 0 … count, id stored last. False (nothing changed) when full.
    bool append(qint16 id);
    // Closes up the entries behind pos and re-dimensions to 0 … count − n (n entries from pos on).
    void removeAt(qint16 pos, qint16 n = 1);

    friend bool operator==(const FolderArray&, const FolderArray&) = default;
};

} // namespace kadmel
