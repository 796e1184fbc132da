#include "store/FolderArray.h"

#include "store/MailRecord.h"

namespace kadmel {

QList<qint16> FolderArray::entries() const
{
    if (count <= 0)
        return {};
    return ids.mid(1, count);
}

bool FolderArray::append(qint16 id)
{
    if (count >= MaxMails)
        return false;
    ++count;
    ids.resize(count + 1);
    ids[count] = id;
    return true;
}

void FolderArray::removeAt(qint16 pos, qint16 n)
{
    if (pos < 1 || n < 1 || pos > count || n > count - pos + 1 || pos + n > ids.size())
        return;
    ids.remove(pos, n);
    count = static_cast<qint16>(count - n);
    ids.resize(count + 1);
}

} // namespace kadmel
