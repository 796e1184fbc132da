#include "store/StorePaths.h"

#include "store/ArchiveFiles.h"

#include <QRegularExpression>

namespace kadmel {
namespace {

const QString MailsFolder = QStringLiteral("Mails");
const QString PendingArchiveFolder = QStringLiteral("ArchivAusstehend");
const QString AttachmentsFolder = QStringLiteral("Anhaenge");
const QString IniFile = QStringLiteral("kadmel.ini");
const QString RetryFile = QStringLiteral("kadmel.retry");
const QString JobNameFile = QStringLiteral("kadmel.jobs");
const QString GoneJobsFile = QStringLiteral("kadmel.entfernt");
const QString RemovalPlanFile = QStringLiteral("kadmel.removal");
const QString ChainHeadFile = QStringLiteral("kadmel.archivkette");
const QString PaceFile = QStringLiteral("kadmel.pace");
const QString OriginFile = QStringLiteral("kadmel.herkunft");

QString in(const QString& programFolder, const QString& name)
{
    return programFolder + QLatin1Char('/') + name;
}

QString mailPathIn(const QString& programFolder, qint16 id, const char* suffix)
{
    return in(programFolder, MailsFolder) + QStringLiteral("/Mail(%1).").arg(id) + QLatin1String(suffix);
}

// The settings and index files of any version, as the take-over of old files finds them.
bool isSettingsOrIndexName(const QString& name)
{
    return name.startsWith(QLatin1String("zubdata"), Qt::CaseInsensitive) &&
           name.endsWith(QLatin1String(".zub"), Qt::CaseInsensitive);
}

bool isSideFileName(const QString& name)
{
    return name == IniFile || name == RetryFile || name == JobNameFile || name == GoneJobsFile ||
           name == RemovalPlanFile || name == ChainHeadFile || name == PaceFile || name == OriginFile;
}

bool isMailFileName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^Mail\\(\\d{1,5}\\)\\.(zub|neu|weg)$"));
    return pattern.match(name).hasMatch();
}

} // namespace

QString settingsFilePathIn(const QString& programFolder)
{
    return in(programFolder, QStringLiteral("ZUBData1(3.0).zub"));
}

QString indexFilePathIn(const QString& programFolder)
{
    return in(programFolder, QStringLiteral("ZUBData2(3.0).zub"));
}

QString mailsFolderIn(const QString& programFolder)
{
    return in(programFolder, MailsFolder);
}

QString mailFilePathIn(const QString& programFolder, qint16 id)
{
    return mailPathIn(programFolder, id, "zub");
}

QString iniFilePathIn(const QString& programFolder)
{
    return in(programFolder, IniFile);
}

QString retryFilePathIn(const QString& programFolder)
{
    return in(programFolder, RetryFile);
}

QString jobNameFilePathIn(const QString& programFolder)
{
    return in(programFolder, JobNameFile);
}

QString goneJobsFilePathIn(const QString& programFolder)
{
    return in(programFolder, GoneJobsFile);
}

QString removalPlanPathIn(const QString& programFolder)
{
    return in(programFolder, RemovalPlanFile);
}

QString paceFilePathIn(const QString& programFolder)
{
    return in(programFolder, PaceFile);
}

QString originFilePathIn(const QString& programFolder)
{
    return in(programFolder, OriginFile);
}

QString movedMailPathIn(const QString& programFolder, qint16 newId)
{
    return mailPathIn(programFolder, newId, "neu");
}

QString removedMailPathIn(const QString& programFolder, qint16 oldId)
{
    return mailPathIn(programFolder, oldId, "weg");
}

QString chainHeadPathIn(const QString& programFolder)
{
    return in(programFolder, ChainHeadFile);
}

QString pendingArchiveFolderIn(const QString& programFolder)
{
    return in(programFolder, PendingArchiveFolder);
}

QString attachmentsFolderIn(const QString& programFolder)
{
    return in(programFolder, AttachmentsFolder);
}

bool isAttachmentCopyName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{16}$"));
    return pattern.match(name).hasMatch();
}

QString lockFilePathIn(const QString& programFolder)
{
    return in(programFolder, QStringLiteral("kadmel.lock"));
}

QList<StoreFileKind> storeFileNames()
{
    return {{MailsFolder, isMailFileName},
            {AttachmentsFolder, isAttachmentCopyName},
            {PendingArchiveFolder, isWaitingCopyName},
            {{}, isSideFileName},
            {{}, isSettingsOrIndexName}};
}

} // namespace kadmel
