#include "store/PaceFile.h"

#include "store/FileAccess.h"
#include "store/PaceSetting.h"

#include <algorithm>

namespace kadmel {
namespace {

constexpr char Header[] = "KadmelTakt 1";

bool isDigits(const QByteArray& text)
{
    return !text.isEmpty() && text.size() <= 15 &&
           std::all_of(text.cbegin(), text.cend(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

QByteArray encodePaceFile(const PaceFileContent& content)
{
    // Percent-encoded, so that no blank or line end of a name can move a field.
    QByteArray text =
        QByteArray(Header) + '\n' + content.server.toPercentEncoding() + ' ' + content.user.toPercentEncoding() + '\n';
    for (const qint64 time : content.times)
        text += QByteArray::number(time) + '\n';
    return text;
}

std::optional<PaceFileContent> decodePaceFile(const QByteArray& bytes)
{
    if (!bytes.endsWith('\n'))
        return std::nullopt; // cut short
    const QList<QByteArray> lines = bytes.first(bytes.size() - 1).split('\n');
    if (lines.size() < 2 || lines.size() - 2 > MostMailsPerDay || lines.at(0) != Header)
        return std::nullopt;
    const QList<QByteArray> account = lines.at(1).split(' ');
    if (account.size() != 2)
        return std::nullopt;
    PaceFileContent content{
        QByteArray::fromPercentEncoding(account.at(0)), QByteArray::fromPercentEncoding(account.at(1)), {}};
    content.times.reserve(lines.size() - 2);
    for (qsizetype i = 2; i < lines.size(); ++i) {
        if (!isDigits(lines.at(i)))
            return std::nullopt;
        const qint64 time = lines.at(i).toLongLong();
        if (!content.times.isEmpty() && time < content.times.constLast())
            return std::nullopt; // written oldest first
        content.times.append(time);
    }
    return content;
}

std::optional<PaceFileContent> loadPaceFile(const QString& programFolder, QString* error)
{
    return loadSideFile(paceFilePathIn(programFolder), MaxPaceFileBytes, decodePaceFile, error);
}

bool savePaceFile(const QString& programFolder, const PaceFileContent& content, QString* error)
{
    const QString path = paceFilePathIn(programFolder);
    if (content.times.isEmpty())
        return removeFile(path, error);
    return writeWholeFile(path, encodePaceFile(content), error);
}

} // namespace kadmel
