#pragma once

#include <QString>

namespace kadmel {

struct ProgramFolderChoice
{
    QString folder;   // empty: the program cannot run and ends
    QString notice;   // German, said once: the store was copied into the per-user folder
    QString error;    // German: why the program ends
    QString copyFrom; // a store that takeOverStore() copies into `folder`, if it still has none
};

// The folder of the store and the lock file: the executable's folder when the program may write there
// (the build tree, a copied folder), otherwise the per-user data folder, created owner-only on first use.
// A system folder (/usr, /opt, …) never holds a store, even for root, who could write there.
ProgramFolderChoice chooseProgramFolder(const QString& executableFolder, const QString& perUserFolder);

// Run while holding the instance lock of choice.folder, so two first starts cannot copy at once: a store in an
// executable's folder that cannot be written is never silently left behind. The first time it is copied into
// the per-user folder (notice set), or false with the reason in error; nothing to do is true.
bool takeOverStore(ProgramFolderChoice& choice);

} // namespace kadmel
