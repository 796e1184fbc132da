#include "store/JobNameFile.h"

#include "store/FileAccess.h"
#include "store/MailRecord.h"

#include <QSet>

namespace kadmel {
namespace {

constexpr char Header[] = "KadmelAuftraege 1";
constexpr char GoneHeader[] = "KadmelEntfernt 1";
constexpr qint64 MaxGoneJobsFileBytes = qint64(8) << 20;

// Every byte but the unreserved ones as "%xx": no blank, line end or "%" of a name reaches the line.
QByteArray escaped(const QByteArray& bytes)
{
    return bytes.isEmpty() ? QByteArray("-") : bytes.toPercentEncoding();
}

std::optional<QByteArray> unescaped(const QByteArray& text)
{
    if (text == "-")
        return QByteArray();
    const QByteArray bytes = QByteArray::fromPercentEncoding(text);
    if (bytes.isEmpty() || bytes.toPercentEncoding() != text)
        return std::nullopt; // something escaped() never writes
    return bytes;
}

// "-" for none. Older versions wrote the Message-ID whatever it was: one this version keys no mail by is none.
std::optional<MailKey> keyIn(const QByteArray& text)
{
    if (text == "-")
        return MailKey();
    if (const std::optional<MailKey> key = MailKey::fromText(text))
        return key;
    return unescaped(text) ? std::optional(MailKey()) : std::nullopt;
}

std::optional<QList<GoneJob>> decodeGoneJobs(const QByteArray& bytes)
{
    QList<QByteArray> lines = bytes.split('\n');
    if (lines.takeFirst() != GoneHeader || lines.takeLast() != "" || lines.size() > MaxGoneJobs)
        return std::nullopt;
    QList<GoneJob> jobs;
    for (const QByteArray& line : std::as_const(lines)) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 3)
            return std::nullopt;
        const std::optional<MailKey> key = MailKey::fromText(fields.at(0));
        const std::optional<QByteArray> name = unescaped(fields.at(1)), receipt = unescaped(fields.at(2));
        if (!key || !name || !receipt || name->isEmpty())
            return std::nullopt;
        jobs.append({*key, *name, *receipt});
    }
    return jobs;
}

} // namespace

QByteArray encodeJobNameFile(const QList<JobNameEntry>& entries)
{
    QByteArray text = QByteArray(Header) + '\n';
    for (const JobNameEntry& e : entries)
        text += QByteArray::number(e.id) + ' ' + (e.owed ? '1' : '0') + ' ' +
                (e.key.isNull() ? QByteArray("-") : e.key.text()) + ' ' + escaped(e.jobName) + '\n';
    return text;
}

std::optional<QList<JobNameEntry>> decodeJobNameFile(const QByteArray& bytes)
{
    if (!bytes.endsWith('\n'))
        return std::nullopt; // cut short
    QList<QByteArray> lines = bytes.first(bytes.size() - 1).split('\n');
    if (lines.takeFirst() != Header || lines.size() > MaxMails)
        return std::nullopt;
    QList<JobNameEntry> entries;
    QSet<qint16> ids;
    for (const QByteArray& line : std::as_const(lines)) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 4 || (fields.at(1) != "0" && fields.at(1) != "1"))
            return std::nullopt;
        bool ok = false;
        const int id = fields.at(0).toInt(&ok);
        const std::optional<MailKey> key = keyIn(fields.at(2));
        const std::optional<QByteArray> name = unescaped(fields.at(3));
        if (!ok || id < 1 || id > MaxMails || QByteArray::number(id) != fields.at(0) || ids.contains(qint16(id)) ||
            !key || !name || name->isEmpty())
            return std::nullopt;
        ids.insert(qint16(id));
        entries.append({qint16(id), fields.at(1) == "1", *key, *name});
    }
    return entries;
}

std::optional<QList<JobNameEntry>> loadJobNameFile(const QString& programFolder, QString* error)
{
    return loadSideFile(jobNameFilePathIn(programFolder), MaxJobNameFileBytes, decodeJobNameFile, error);
}

bool saveJobNameFile(const QString& programFolder, const QList<JobNameEntry>& entries, QString* error)
{
    const QString path = jobNameFilePathIn(programFolder);
    if (entries.isEmpty())
        return removeFile(path, error);
    return writeWholeFile(path, encodeJobNameFile(entries), error);
}

std::optional<QList<GoneJob>> loadGoneJobs(const QString& programFolder, QString* error)
{
    return loadSideFile(goneJobsFilePathIn(programFolder), MaxGoneJobsFileBytes, decodeGoneJobs, error);
}

bool saveGoneJobs(const QString& programFolder, const QList<GoneJob>& jobs, QString* error)
{
    if (jobs.isEmpty())
        return removeFile(goneJobsFilePathIn(programFolder), error);
    QByteArray text = QByteArray(GoneHeader) + '\n';
    for (const GoneJob& job : jobs)
        text += job.key.text() + ' ' + escaped(job.jobName) + ' ' + escaped(job.receipt) + '\n';
    return writeWholeFile(goneJobsFilePathIn(programFolder), text, error);
}

} // namespace kadmel
