#include "smtp/EhloReply.h"

#include <QList>

namespace kadmel {
namespace {

// The keyword lines of a 250 reply to EHLO, without "250-" or "250 " and the line end. The first line
// names the server and is left out.
QByteArrayList keywordLines(const QByteArray& ehloReply)
{
    QByteArrayList result;
    const QList<QByteArray> lines = ehloReply.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        if (line.size() < 4 || !line.startsWith("250") || (line[3] != '-' && line[3] != ' '))
            continue;
        result.append(line.mid(4));
    }
    return result;
}

} // namespace

bool offersExtension(const QByteArray& ehloReply, QByteArrayView keyword)
{
    for (const QByteArray& rest : keywordLines(ehloReply)) {
        const qsizetype space = rest.indexOf(' ');
        const QByteArray word = space < 0 ? rest : rest.left(space);
        if (word.compare(keyword, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QByteArrayList authMechanisms(const QByteArray& ehloReply)
{
    QByteArrayList result;
    for (const QByteArray& rest : keywordLines(ehloReply)) {
        // Older servers write "AUTH=LOGIN PLAIN" beside the standard "AUTH LOGIN PLAIN".
        if (rest.size() < 5 || rest.left(4).compare("AUTH", Qt::CaseInsensitive) != 0 ||
            (rest[4] != ' ' && rest[4] != '='))
            continue;
        for (const QByteArray& word : rest.mid(5).split(' ')) {
            if (!word.isEmpty())
                result.append(word.toUpper());
        }
    }
    return result;
}

std::optional<qint64> sizeLimit(const QByteArray& ehloReply)
{
    for (const QByteArray& rest : keywordLines(ehloReply)) {
        const QByteArrayList words = rest.simplified().split(' ');
        if (words.first().compare("SIZE", Qt::CaseInsensitive) != 0 || words.size() < 2)
            continue;
        bool number = false;
        const qint64 limit = words.at(1).toLongLong(&number);
        if (number && limit > 0 && words.at(1).front() != '+')
            return limit;
    }
    return std::nullopt;
}

} // namespace kadmel
