#pragma once

#include <QString>
#include <QStringList>

namespace kadmel {

// The verbs that ask the running service, kadmelctl's side: the arguments checked, the request sent, the answer
// printed (German lines, or with `json` the answer's JSON lines as they come). Returns the exit code;
// -1 for a verb that is not one of them.
int runRemoteVerb(const QString& programFolder, bool json, const QString& verb, const QStringList& args);

// The usage lines of these verbs.
QStringList remoteVerbUsage();

} // namespace kadmel
