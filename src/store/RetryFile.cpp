#include "store/RetryFile.h"

#include "store/FileAccess.h"
#include "store/MailRecord.h"

#include <QSet>

#include <algorithm>
#include <limits>

namespace kadmel {
namespace {

constexpr char Header[] = "KadmelWiederholung 1";
constexpr char ThrottledMark[] = "pausiert";

std::optional<qint64> number(const QByteArray& text)
{
    // Digits with an optional minus: nothing else that toLongLong would quietly accept (blanks, a plus).
    const QByteArray digits = text.startsWith('-') ? text.mid(1) : text;
    if (digits.isEmpty() || !std::all_of(digits.cbegin(), digits.cend(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

} // namespace

QByteArray encodeRetryFile(const RetryFileContent& content)
{
    QByteArray text = QByteArray(Header) + ' ' + QByteArray::number(content.savedAt) + '\n';
    for (const RetryFileEntry& e : content.entries)
        text += QByteArray::number(e.id) + ' ' + e.key.text() + ' ' + QByteArray::number(e.firstFailure) + ' ' +
                QByteArray::number(e.nextAttempt) + ' ' + QByteArray::number(e.failures) +
                (e.throttled ? QByteArray(" ") + ThrottledMark : QByteArray()) + '\n';
    return text;
}

std::optional<RetryFileContent> decodeRetryFile(const QByteArray& bytes)
{
    if (!bytes.endsWith('\n'))
        return std::nullopt; // cut short
    QList<QByteArray> lines = bytes.first(bytes.size() - 1).split('\n');
    const QList<QByteArray> head = lines.takeFirst().split(' ');
    if (head.size() != 3 || head.at(0) + ' ' + head.at(1) != Header || lines.size() > MaxMails)
        return std::nullopt;
    RetryFileContent content;
    const std::optional<qint64> savedAt = number(head.at(2));
    if (!savedAt)
        return std::nullopt;
    content.savedAt = *savedAt;
    QSet<qint16> ids;
    for (const QByteArray& line : std::as_const(lines)) {
        const QList<QByteArray> fields = line.split(' ');
        const bool throttled = fields.size() == 6 && fields.at(5) == ThrottledMark;
        const std::optional<MailKey> key =
            fields.size() == 5 || throttled ? MailKey::fromText(fields.at(1)) : std::nullopt;
        if (!key)
            return std::nullopt;
        const std::optional<qint64> id = number(fields.at(0));
        const std::optional<qint64> first = number(fields.at(2));
        const std::optional<qint64> next = number(fields.at(3));
        const std::optional<qint64> failures = number(fields.at(4));
        if (!id || *id < 1 || *id > MaxMails || ids.contains(qint16(*id)) || !first || !next || !failures ||
            *failures < 1 || *failures > std::numeric_limits<qint32>::max())
            return std::nullopt;
        ids.insert(qint16(*id));
        content.entries.append({qint16(*id), *key, *first, *next, qint32(*failures), throttled});
    }
    return content;
}

std::optional<RetryFileContent> loadRetryFile(const QString& programFolder, QString* error)
{
    return loadSideFile(retryFilePathIn(programFolder), MaxRetryFileBytes, decodeRetryFile, error);
}

bool saveRetryFile(const QString& programFolder, const RetryFileContent& content, QString* error)
{
    const QString path = retryFilePathIn(programFolder);
    if (content.entries.isEmpty())
        return removeFile(path, error);
    return writeWholeFile(path, encodeRetryFile(content), error);
}

} // namespace kadmel
