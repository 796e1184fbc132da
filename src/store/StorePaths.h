#pragma once

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
QString removalPlanPathIn(const QString& programFolder);               // "kadmel.removal"
QString movedMailPathIn(const QString& programFolder, qint16 newId);   // "Mails/Mail(<id>).neu"
QString removedMailPathIn(const QString& programFolder, qint16 oldId); // "Mails/Mail(<id>).weg"
QString pendingArchiveFolderIn(const QString& programFolder);          // "ArchivAusstehend"
// "kadmel.lock": the instance lock of the folder, no part of the store.
QString lockFilePathIn(const QString& programFolder);

} // namespace kadmel
