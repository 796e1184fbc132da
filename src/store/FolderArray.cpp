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

void FolderArray::removeAt(qint16 pos)
{
    if (pos < 1 || pos > count)
        return;
    ids.remove(pos);
    --count;
    ids.resize(count + 1);
}

} // namespace kadmel
