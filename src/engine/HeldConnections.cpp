#include "engine/HeldConnections.h"

#include <QTimer>

namespace kadmel {

void HeldConnections::add(QIODevice* connection, std::function<void()> abort)
{
    m_held.removeIf([](const Held& held) { return held.connection.isNull(); });
    while (m_held.size() >= Most)
        letGo(m_held.takeFirst());
    m_held.append({connection, abort});
    QTimer::singleShot(m_idleLimit, connection, [held = m_held.last()] { letGo(held); });
}

void HeldConnections::letGo(const Held& held)
{
    if (!held.connection)
        return;
    held.abort();
    held.connection->deleteLater();
}

} // namespace kadmel
