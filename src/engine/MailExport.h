#pragma once

#include "smtp/Message.h"
#include "store/Store.h"

#include <optional>

namespace kadmel {

// What the client is given for one attempt of the mail: its addresses, subject and Message-ID (none yet: the
// client makes one). The page is the caller's.
SmtpMail smtpMailOf(const MailRecord& record, qint16 id);
// The record's attachments from the store's copies, Base64 made beforehand with `encode` (off the window's
// thread); false with the German reason when a copy cannot be read: nothing goes out without all of them.
bool attachFiles(SmtpMail& mail, const QString& programFolder, const MailRecord& record, bool encode, QString* error);

// The mail as an ".eml" file any mail program opens. A sent mail as it went out: its archive copy where one
// exists, else the message in its conversation; any other mail (and a sent one whose conversation was cut)
// as it would go out now. Nothing, with a German reason, when it could not go out as it stands.
std::optional<QByteArray> mailAsFile(Store& store, qint16 id, QString* error);

} // namespace kadmel
