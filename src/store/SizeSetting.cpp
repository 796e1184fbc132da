#include "store/SizeSetting.h"

#include <algorithm>

namespace kadmel {
namespace {

const QByteArray Section = "Zustellung";
const QByteArray Key = "MaximaleGroesseMB";

} // namespace

qint32 readMaxMessageMB(const IniSection& section)
{
    const QByteArray value = section.value(Key).value_or(QByteArray());
    const bool digits = !value.isEmpty() && value.size() <= 6 &&
                        std::all_of(value.cbegin(), value.cend(), [](char c) { return c >= '0' && c <= '9'; });
    const qint32 megabytes = digits ? value.toInt() : -1;
    return megabytes >= 0 && megabytes <= MostMaxMessageMB ? megabytes : DefaultMaxMessageMB;
}

IniChange maxMessageIniChange(qint32 megabytes)
{
    return {Section, Key, QByteArray::number(megabytes)};
}

} // namespace kadmel
