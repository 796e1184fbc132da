#include "store/OriginFile.h"

#include "store/FileAccess.h"
#include "store/MailRecord.h"
#include "store/StorePaths.h"

#include <algorithm>

namespace kadmel {
namespace {

constexpr char Header[] = "KadmelHerkunft 1";

} // namespace

QByteArray encodeOriginFile(const QSet<MailKey>& keys)
{
    QList<QByteArray> lines;
    for (const MailKey& key : keys) {
        if (!key.isNull())
            lines.append(key.text());
    }
    std::sort(lines.begin(), lines.end()); // the same keys, the same bytes
    QByteArray text = QByteArray(Header) + '\n';
    for (const QByteArray& line : std::as_const(lines))
        text += line + '\n';
    return text;
}

std::optional<QSet<MailKey>> decodeOriginFile(const QByteArray& bytes)
{
    if (!bytes.endsWith('\n'))
        return std::nullopt; // cut short
    QList<QByteArray> lines = bytes.first(bytes.size() - 1).split('\n');
    if (lines.takeFirst() != Header || lines.size() > MaxMails)
        return std::nullopt;
    QSet<MailKey> keys;
    for (const QByteArray& line : std::as_const(lines)) {
        const std::optional<MailKey> key = MailKey::fromText(line);
        if (!key)
            return std::nullopt;
        keys.insert(*key);
    }
    return keys;
}

std::optional<QSet<MailKey>> loadOriginFile(const QString& programFolder, QString* error)
{
    return loadSideFile(originFilePathIn(programFolder), MaxOriginFileBytes, decodeOriginFile, error);
}

bool saveOriginFile(const QString& programFolder, const QSet<MailKey>& keys, QString* error)
{
    const QString path = originFilePathIn(programFolder);
    if (keys.isEmpty())
        return removeFile(path, error);
    return writeWholeFile(path, encodeOriginFile(keys), error);
}

} // namespace kadmel
