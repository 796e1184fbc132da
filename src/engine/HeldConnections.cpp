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

void HeldConnections::release(QIODevice* connection)
{
    m_held.removeIf([connection](const Held& held) {
        if (held.connection != connection)
            return false;
        *held.released = true;
        return true;
    });
}

void HeldConnections::letGo(const Held& held)
{
    if (!held.connection || *held.released)
        return;
    held.abort();
    held.connection->deleteLater();
}

} // namespace kadmel
