#pragma once

#include "store/IniFile.h"

#include <QList>

#include <optional>

namespace kadmel {

// "MailsProMinute" and "MailsProTag" in the section [Zustellung] of "kadmel.ini": how many mails go to the server
// within any 60 seconds and any 24 hours. Unset (missing, empty or not a whole number in range): no limit of that
// kind; 0: none either, but the key still asks for paced sending. Both unset: one job per tick of Timer1.
inline constexpr qint32 MostMailsPerMinute = 10000;
inline constexpr qint32 MostMailsPerDay = 100000;

struct PaceLimits
{
    std::optional<qint32> perMinute;
    std::optional<qint32> perDay;

    // Either key is set: the next job is taken as soon as the last is filed, within the limits.
    bool isSet() const { return perMinute || perDay; }
    friend bool operator==(const PaceLimits&, const PaceLimits&) = default;
};

PaceLimits readPaceLimits(const IniSection& section);
// An unset limit takes its key out.
QList<IniChange> paceIniChanges(const PaceLimits& limits);

} // namespace kadmel
