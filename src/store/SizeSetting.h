#pragma once

#include "store/IniFile.h"

namespace kadmel {

// "MaximaleGroesseMB" in the section [Zustellung] of "kadmel.ini": the largest message that goes out, in MB of
// 1,000,000 bytes, as it goes on the wire (Base64 included). 0: no limit of our own, the server's alone.
inline constexpr qint32 DefaultMaxMessageMB = 25;
inline constexpr qint32 MostMaxMessageMB = 100000;

// The value when it is a whole number from 0 to MostMaxMessageMB; missing or anything else: the default, so a
// typing slip never lifts the limit.
qint32 readMaxMessageMB(const IniSection& section);
IniChange maxMessageIniChange(qint32 megabytes);

// "MailsProVerbindung" in [Zustellung]: the mails one connection carries at most, one after another; 1 is a
// connection per mail. Missing or not a whole number from 1 to MostMailsPerConnection: the default.
inline constexpr qint32 DefaultMailsPerConnection = 20;
inline constexpr qint32 MostMailsPerConnection = 1000;
qint32 readMailsPerConnection(const IniSection& section);

inline qint64 maxMessageBytes(qint32 megabytes)
{
    return qint64(megabytes) * 1000000;
}

} // namespace kadmel
