#include "store/SizeSetting.h"

#include <algorithm>

namespace kadmel {
namespace {

const QByteArray Section = "Zustellung";
const QByteArray Key = "MaximaleGroesseMB";

// The key's whole number from `least` to `most` (at most six digits), else `fallback`.
qint32 wholeNumber(const IniSection& section, const QByteArray& key, qint32 least, qint32 most, qint32 fallback)
{
    const QByteArray value = section.value(key).value_or(QByteArray());
    const bool digits = !value.isEmpty() && value.size() <= 6 &&
                        std::all_of(value.cbegin(), value.cend(), [](char c) { return c >= '0' && c <= '9'; });
    const qint32 number = digits ? value.toInt() : -1;
    return number >= least && number <= most ? number : fallback;
}

} // namespace

qint32 readMaxMessageMB(const IniSection& section)
{
    return wholeNumber(section, Key, 0, MostMaxMessageMB, DefaultMaxMessageMB);
}

qint32 readMailsPerConnection(const IniSection& section)
{
    return wholeNumber(section, "MailsProVerbindung", 1, MostMailsPerConnection, DefaultMailsPerConnection);
}

IniChange maxMessageIniChange(qint32 megabytes)
{
    return {Section, Key, QByteArray::number(megabytes)};
}

} // namespace kadmel
