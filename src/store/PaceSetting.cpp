#include "store/PaceSetting.h"

#include <algorithm>

namespace kadmel {
namespace {

const QByteArray Section = "Zustellung";
const QByteArray MinuteKey = "MailsProMinute";
const QByteArray DayKey = "MailsProTag";

// A damaged value is unset: it must not be taken for a limit nobody meant.
std::optional<qint32> readLimit(const IniSection& section, const QByteArray& key, qint32 most)
{
    const QByteArray value = section.value(key).value_or(QByteArray()).trimmed();
    if (value.isEmpty() || value.size() > 6 ||
        !std::all_of(value.cbegin(), value.cend(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const qint32 limit = value.toInt();
    return limit <= most ? std::optional(limit) : std::nullopt;
}

IniChange limitChange(const QByteArray& key, std::optional<qint32> limit)
{
    return {Section, key, limit ? std::optional(QByteArray::number(*limit)) : std::nullopt};
}

} // namespace

PaceLimits readPaceLimits(const IniSection& section)
{
    return {readLimit(section, MinuteKey, MostMailsPerMinute), readLimit(section, DayKey, MostMailsPerDay)};
}

QList<IniChange> paceIniChanges(const PaceLimits& limits)
{
    return {limitChange(MinuteKey, limits.perMinute), limitChange(DayKey, limits.perDay)};
}

} // namespace kadmel
