#include "store/RetrySetting.h"

#include "store/IniFile.h"

namespace kadmel {
namespace {

const QByteArray Section = "Zustellung";
const QByteArray Key = "AutomatischWiederholen";

} // namespace

bool loadRetrySetting(const QString& programFolder)
{
    const std::optional<IniSection> section = readIniSection(iniFilePathIn(programFolder), Section);
    const std::optional<QByteArray> value = section ? section->value(Key) : std::nullopt;
    return value && value->compare("true", Qt::CaseInsensitive) == 0;
}

bool saveRetrySetting(const QString& programFolder, bool on, QString* error)
{
    return writeIniSection(iniFilePathIn(programFolder), Section, {{Key, on ? "true" : "false"}}, error);
}

} // namespace kadmel
