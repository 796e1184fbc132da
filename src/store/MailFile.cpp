#include "store/MailFile.h"

#include "store/StoreCodec.h"

namespace kadmel {
namespace {

// A send attempt logs a few dozen texts; the bound keeps a forged count of empty strings from
// costing far more memory than the file itself.
constexpr qsizetype MaxLogEntries = 1 << 20;

// The 2-byte mark of a list that was never dimensioned, or the descriptor of one that was.
qint64 encodedArraySize(const QList<QByteArray>& array)
{
    qint64 size = array.isEmpty() ? 2 : 10;
    for (const QByteArray& text : array)
        size += encodedStringSize(text.size());
    return size;
}

// The bytes of an array cut to nothing but the note and the closing empty element.
qint64 cutArraySize(const QList<QByteArray>& array, const QByteArray& note)
{
    return array.isEmpty() ? 2 : 10 + encodedStringSize(note.size()) + encodedStringSize(0);
}

// Keeps the longest start of `array` that fits in `room` bytes, then the note and the closing empty
// element; returns the bytes the array now takes (at least its cut size, even beyond `room`).
qint64 keepStart(QList<QByteArray>& array, qint64 room, const QByteArray& note)
{
    if (encodedArraySize(array) <= room)
        return encodedArraySize(array);
    qint64 used = cutArraySize(array, note);
    qsizetype kept = 0;
    while (kept < array.size() && used + encodedStringSize(array[kept].size()) <= room)
        used += encodedStringSize(array[kept++].size());
    array.resize(kept);
    array << note << QByteArray();
    return used;
}

} // namespace

qint64 encodedStringSize(qint64 length)
{
    return (length >= 0xFFFF ? 6 : 2) + length;
}

qint64 encodedMailRecordSize(const MailRecord& record)
{
    qint64 size = encodedArraySize(record.Log.Sent) + encodedArraySize(record.Log.Received);
    for (const QByteArray* text : {&record.Reserved, &record.From, &record.To, &record.Subject, &record.Body,
                                   &record.Date, &record.Size, &record.Status})
        size += encodedStringSize(text->size());
    return size;
}

bool fitMailRecord(MailRecord& record, qint64 maxBytes)
{
    if (encodedMailRecordSize(record) <= maxBytes)
        return true;
    static const QByteArray Note = QByteArrayLiteral("[Protokoll gek\xFCrzt: zu gro\xDF f\xFCr die Maildatei]\r\n");
    MailRecord bare = record;
    bare.Log = {};
    qint64 room = maxBytes - encodedMailRecordSize(bare) + 4; // the two never-dimensioned marks
    // The replies first: they are short and tell how the attempt went.
    room -= keepStart(record.Log.Received, room - cutArraySize(record.Log.Sent, Note), Note);
    room -= keepStart(record.Log.Sent, room, Note);
    return room >= 0;
}

QByteArray encodeMailRecord(const MailRecord& record)
{
    ByteWriter out;
    out.writeStringArray(record.Log.Sent);
    out.writeStringArray(record.Log.Received);
    for (const QByteArray* text : {&record.Reserved, &record.From, &record.To, &record.Subject, &record.Body,
                                   &record.Date, &record.Size, &record.Status})
        out.writeString(*text);
    return out.bytes();
}

bool decodeMailRecord(QByteArrayView bytes, MailRecord& record, QString* error, qsizetype* consumed)
{
    ByteReader in(bytes);
    MailRecord read;
    in.readStringArray(read.Log.Sent, MaxLogEntries);
    in.readStringArray(read.Log.Received, MaxLogEntries);
    for (QByteArray* text :
         {&read.Reserved, &read.From, &read.To, &read.Subject, &read.Body, &read.Date, &read.Size, &read.Status})
        in.readString(*text);
    if (!in.ok()) {
        if (error)
            *error = in.error();
        return false;
    }
    record = read;
    if (consumed)
        *consumed = in.position();
    return true;
}

} // namespace kadmel
