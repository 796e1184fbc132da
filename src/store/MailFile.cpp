#include "store/MailFile.h"

#include "store/StoreCodec.h"

namespace kadmel {
namespace {

// A send attempt logs a few dozen texts; the bound keeps a forged count of empty strings from
// costing far more memory than the file itself.
constexpr qsizetype MaxLogEntries = 1 << 20;

} // namespace

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
