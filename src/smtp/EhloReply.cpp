#include "smtp/EhloReply.h"

#include <QList>

namespace kadmel {

bool offersExtension(const QByteArray& ehloReply, QByteArrayView keyword)
{
    const QList<QByteArray> lines = ehloReply.split('\n');
    // The first line names the server; each later "250-" or "250 " line starts with a keyword.
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        if (line.size() < 4 || !line.startsWith("250") || (line[3] != '-' && line[3] != ' '))
            continue;
        const QByteArray rest = line.mid(4);
        const qsizetype space = rest.indexOf(' ');
        const QByteArray word = space < 0 ? rest : rest.left(space);
        if (word.compare(keyword, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace kadmel
