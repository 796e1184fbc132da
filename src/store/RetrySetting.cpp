#include "store/RetrySetting.h"

namespace kadmel {
namespace {

const QByteArray Section = "Zustellung";
const QByteArray Key = "AutomatischWiederholen";

} // namespace

bool readRetrySetting(const IniSection& section)
{
    const std::optional<QByteArray> value = section.value(Key);
    return value && value->compare("true", Qt::CaseInsensitive) == 0;
}

IniChange retryIniChange(bool on)
{
    return {Section, Key, QByteArray(on ? "true" : "false")};
}

} // namespace kadmel
