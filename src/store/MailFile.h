#pragma once

#include "store/MailRecord.h"

#include <QByteArrayView>
#include <QString>

namespace kadmel {

// The bytes of a mail file: Log.Sent and Log.Received as string arrays, then Reserved, From, To,
// Subject, Body, Date, Size and Status as strings.
QByteArray encodeMailRecord(const MailRecord& record);

// Reads one record from the start of `bytes`; false with a German reason when the bytes do not hold one.
// `consumed` (optional) tells how many bytes the record took.
bool decodeMailRecord(QByteArrayView bytes, MailRecord& record, QString* error, qsizetype* consumed = nullptr);

} // namespace kadmel
