#pragma once

#include <QString>

namespace kadmel {

struct ProgramFolderChoice
{
    QString folder; // empty: the program cannot run and ends
    QString notice; // German, said once: the store was copied into the per-user folder
    QString error;  // German: why the program ends
};

// The folder of the store and the lock file: the executable's folder when the program may write there
// (the build tree, a copied folder), otherwise the per-user data folder, created owner-only on first use.
// A system folder (/usr, /opt, …) never holds a store, even for root, who could write there.
// A store in an executable's folder that cannot be written is never silently left behind: the first
// time, it is copied into the per-user folder (which then holds it), or the reason is given to end.
ProgramFolderChoice chooseProgramFolder(const QString& executableFolder, const QString& perUserFolder);

} // namespace kadmel
