#pragma once

#include "store/FolderArray.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace kadmel {

// The folder index file: SentCount, FailedCount, DeletedCount, MailCount, then the three whole folder
// arrays (element 0 included; an empty list is an array never dimensioned).
struct FolderIndexRecord
{
    qint16 mailCount = 0;
    FolderArray sent;
    FolderArray failed;
    FolderArray deleted;

    friend bool operator==(const FolderIndexRecord&, const FolderIndexRecord&) = default;
};

QByteArray encodeFolderIndex(const FolderIndexRecord& index);

// Reads the record as it stands, and refuses one whose counts are negative or larger than the arrays
// they count. Entries are not checked against MailCount here.
bool decodeFolderIndex(QByteArrayView bytes, FolderIndexRecord& index, QString* error);

} // namespace kadmel
