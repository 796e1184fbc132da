#include "engine/Job.h"

namespace kadmel {

void Job::finish()
{
    if (std::exchange(m_finished, true))
        return;
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT finished(); }, Qt::QueuedConnection);
}

} // namespace kadmel
