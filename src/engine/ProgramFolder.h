#pragma once

#include <QString>

namespace kadmel {

// The folder of the store and the lock file: the executable's folder when the program may write there
// (the build tree, a copied folder), otherwise the per-user data folder, created on first use.
// A system folder (/usr, /opt, …) never holds a store, even for root, who could write there.
QString chooseProgramFolder(const QString& executableFolder, const QString& perUserFolder);

} // namespace kadmel
