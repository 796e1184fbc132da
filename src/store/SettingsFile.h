#pragma once

#include "store/Settings.h"

#include <QByteArrayView>
#include <QString>

namespace kadmel {

// The settings file: WatchFolder, SmtpServer (scrambled strings), SmtpPort, SmtpUser, SmtpPassword
// (scrambled), UseSpa, AutoStart. Encoding scrambles the four texts, decoding unscrambles them;
// the never-set values are left as read.
QByteArray encodeSettings(const Settings& settings);

// The same layout with the four texts written as they are given, already in their stored form.
QByteArray encodeSettingsRecord(const Settings& storedForm);
bool decodeSettings(QByteArrayView bytes, Settings& settings, QString* error);

// The settings file of data version 2.9: four strings (WatchFolder, SmtpServer, SmtpUser,
// SmtpPassword) as they stand in the file, nothing else; the integers stay 0.
bool decodeOldSettings(QByteArrayView bytes, Settings& settings, QString* error);

} // namespace kadmel
