#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace kadmel::reports {

// One "Name: value" line of a header or a delivery-status block: the name in lower case, the value unfolded.
struct Field
{
    QByteArray name;
    QByteArray value;
};
using FieldBlock = QList<Field>;

// The blocks of header-like fields, separated by blank lines (a message/delivery-status body: the message's block,
// then one per recipient). Lines that are no field are passed over; at most a few hundred blocks are kept.
QList<FieldBlock> fieldBlocks(QByteArrayView text);
// The value of the first field of that (lower-case) name; empty without one.
QByteArray valueOf(const FieldBlock& block, QByteArrayView name);

// The first "<…@…>" in a Message-ID value; empty without one.
QByteArray messageIdIn(QByteArrayView value);
// "rfc822; a@b" → "a@b": the value after its type, trimmed (a value without one as it is).
QByteArray typedValue(QByteArrayView value);
// The address of a recipient field ("rfc822; <a@b>" as "a@b").
QByteArray typedAddress(QByteArrayView value);
// The first enhanced status code ("5.1.1", "4.4.7") standing on its own in the text; empty without one.
QByteArray statusIn(QByteArrayView text);
// Where the first reply code of a refusal or delay ("550 ", "421-") stands in the text; -1 without one.
qsizetype replyCodeIn(QByteArrayView text);
// UTF-8 (or already 8-bit) text as Windows-1252 bytes on one line, white space simplified, cut to `limit` bytes.
QByteArray storeText(QByteArrayView text, qsizetype limit);

} // namespace kadmel::reports
