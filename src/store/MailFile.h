#pragma once

#include "store/MailRecord.h"

#include <QByteArrayView>
#include <QString>

namespace kadmel {

// The bytes of a mail file: Log.Sent and Log.Received as string arrays, then Reserved, From, To,
// Subject, Body, Date, Size and Status as strings.
QByteArray encodeMailRecord(const MailRecord& record);

// The size of encodeMailRecord(record), counted without encoding it.
qint64 encodedMailRecordSize(const MailRecord& record);

// The bytes a string of `length` bytes takes in a store file, its length field included.
qint64 encodedStringSize(qint64 length);

// Cuts the record's log short, with a note, until its file fits in maxBytes: a server that keeps
// talking must not make the file unreadable. False when the record does not fit even without its log.
bool fitMailRecord(MailRecord& record, qint64 maxBytes);

// Reads one record from the start of `bytes`; false with a German reason when the bytes do not hold one.
// `consumed` (optional) tells how many bytes the record took.
bool decodeMailRecord(QByteArrayView bytes, MailRecord& record, QString* error, qsizetype* consumed = nullptr);

} // namespace kadmel
