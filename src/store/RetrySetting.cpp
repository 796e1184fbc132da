#include "store/RetrySetting.h"

#include "store/KadmelIni.h"

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

bool loadRetrySetting(const QString& programFolder)
{
    KadmelIniFile file(programFolder);
    return file.read().retry;
}

bool saveRetrySetting(const QString& programFolder, bool on, QString* error)
{
    KadmelIniChanges changes;
    changes.retry = on;
    return KadmelIniFile(programFolder).write(changes, error);
}

} // namespace kadmel
