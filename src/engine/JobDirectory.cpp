#include "engine/JobDirectory.h"

namespace kadmel {
namespace {

bool isJobName(const QByteArray& name)
{
    return name.size() > 4 && !name.startsWith('.') && name.right(4).toLower() == ".zub";
}

} // namespace

QList<JobEntry> JobDirectory::list()
{
    QList<JobEntry> jobs;
    for (const FolderHandle::Entry& entry : m_folder.list(isJobName))
        jobs.append({entry.name, entry.size, entry.mtimeNs});
    return jobs;
}

} // namespace kadmel
