#pragma once

#include "store/MailRecord.h"
#include "store/Settings.h"

namespace kadmel {

// The largest the file of a new mail can grow to once its send attempt is logged: exact for the record
// and the message it sends, with room for the commands around it and for every reply the client takes.
qint64 projectedMailFileSize(const MailRecord& record, const Settings& settings);

} // namespace kadmel
