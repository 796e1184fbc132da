#pragma once

#include <QList>
#include <QString>

namespace kadmel {

// The names of the store's files below a program folder (paths with "/"); every module takes them from here.
QString settingsFilePathIn(const QString& programFolder);              // "ZUBData1(3.0).zub"
QString indexFilePathIn(const QString& programFolder);                 // "ZUBData2(3.0).zub"
QString mailsFolderIn(const QString& programFolder);                   // "Mails"
QString mailFilePathIn(const QString& programFolder, qint16 id);       // "Mails/Mail(<id>).zub"
QString iniFilePathIn(const QString& programFolder);                   // "kadmel.ini"
QString retryFilePathIn(const QString& programFolder);                 // "kadmel.retry"
QString jobNameFilePathIn(const QString& programFolder);               // "kadmel.jobs"
QString goneJobsFilePathIn(const QString& programFolder);              // "kadmel.entfernt"
QString removalPlanPathIn(const QString& programFolder);               // "kadmel.removal"
QString paceFilePathIn(const QString& programFolder);                  // "kadmel.pace"
QString originFilePathIn(const QString& programFolder);                // "kadmel.herkunft"
QString movedMailPathIn(const QString& programFolder, qint16 newId);   // "Mails/Mail(<id>).neu"
QString removedMailPathIn(const QString& programFolder, qint16 oldId); // "Mails/Mail(<id>).weg"
QString pendingArchiveFolderIn(const QString& programFolder);          // "ArchivAusstehend"
QString chainHeadPathIn(const QString& programFolder);                 // "kadmel.archivkette"
QString attachmentsFolderIn(const QString& programFolder);             // "Anhaenge"
// A copy of an attachment there: 16 hex digits.
bool isAttachmentCopyName(const QString& name);
// "kadmel.lock": the instance lock of the folder, no part of the store.
QString lockFilePathIn(const QString& programFolder);

// One kind of file a store is made of: the folder below the program folder it lies in (empty for the program
// folder itself) and the test of its bare names.
struct StoreFileKind
{
    QString folder;
    bool (*isNamed)(const QString& name);
};

// Every file of a store, as a copy of it must carry them: the settings and index files of every version,
// kadmel.ini, kadmel.retry, kadmel.jobs, kadmel.entfernt, kadmel.removal, kadmel.archivkette, kadmel.pace,
// kadmel.herkunft, the mail
// files with those a removal set aside, the attachments' copies and the archive copies that wait. In the order a copy
// takes them: the settings and index files last, so a copy cut short is told by their absence.
QList<StoreFileKind> storeFileNames();

} // namespace kadmel
