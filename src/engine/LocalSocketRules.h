#pragma once

#include <QString>

#include <optional>

namespace kadmel {

// The rules every local socket of the program keeps (the second-start socket, the service's control socket).

// A real folder (no link) of this user that neither group nor others may enter.
bool isPrivateFolder(const QString& path);

// A short name for a program folder, the same for every path to it (links resolved): 24 hex digits, so a
// socket's path stays within its limit whatever the folder's length.
QString programFolderKey(const QString& programFolder);

// The user at the other end of a connected local socket; none where the system cannot tell.
std::optional<unsigned> peerUserId(qintptr descriptor);

} // namespace kadmel
