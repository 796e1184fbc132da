#include "store/IndexFile.h"

#include "store/StoreCodec.h"

namespace kadmel {

QByteArray encodeFolderIndex(const FolderIndexRecord& index)
{
    ByteWriter out;
    out.writeInt16(index.sent.count);
    out.writeInt16(index.failed.count);
    out.writeInt16(index.deleted.count);
    out.writeInt16(index.mailCount);
    out.writeInt16Array(index.sent.ids);
    out.writeInt16Array(index.failed.ids);
    out.writeInt16Array(index.deleted.ids);
    return out.bytes();
}

bool decodeFolderIndex(QByteArrayView bytes, FolderIndexRecord& index, QString* error)
{
    ByteReader in(bytes);
    FolderIndexRecord read;
    in.readInt16(read.sent.count);
    in.readInt16(read.failed.count);
    in.readInt16(read.deleted.count);
    in.readInt16(read.mailCount);
    in.readInt16Array(read.sent.ids);
    in.readInt16Array(read.failed.ids);
    in.readInt16Array(read.deleted.ids);
    QString reason = in.error();
    if (reason.isEmpty() && read.mailCount < 0)
        reason = QStringLiteral("Ungültige Anzahl Mails (%1).").arg(read.mailCount);
    for (const FolderArray* folder : {&read.sent, &read.failed, &read.deleted}) {
        if (reason.isEmpty() && (folder->count < 0 || (folder->count > 0 && folder->count >= folder->ids.size())))
            reason = QStringLiteral("Die Anzahl %1 passt nicht zum Ordnerfeld mit %2 Elementen.")
                         .arg(folder->count)
                         .arg(folder->ids.size());
    }
    if (!reason.isEmpty()) {
        if (error)
            *error = reason;
        return false;
    }
    index = read;
    return true;
}

} // namespace kadmel
