#pragma once

#include <QIODevice>
#include <QList>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>

namespace kadmel {

// The connections a listener of this machine holds, when any local process may open as many as it likes: a
// handful at most, each for a few seconds. A newcomer lets the oldest go, as a real caller speaks at once and is
// done before an idle one would be; so a flood of idle connections neither runs the process out of descriptors
// nor keeps the real caller out. A connection let go is aborted and deleted later.
class HeldConnections
{
public:
    static constexpr int Most = 8;

    explicit HeldConnections(std::chrono::milliseconds idleLimit) : m_idleLimit(idleLimit) {}

    // A QTcpSocket or a QLocalSocket, just accepted.
    template <typename Socket> void hold(Socket* socket)
    {
        add(socket, [socket] { socket->abort(); });
    }
    // A caller whose request is under way (bounded by its own limit) is no longer idle: it is let go neither
    // after idleLimit nor for a newcomer.
    void release(QIODevice* connection);

private:
    struct Held
    {
        QPointer<QIODevice> connection;
        std::function<void()> abort;
        std::shared_ptr<bool> released = std::make_shared<bool>(false);
    };
    void add(QIODevice* connection, std::function<void()> abort);
    static void letGo(const Held& held);

    std::chrono::milliseconds m_idleLimit;
    QList<Held> m_held; // oldest first; a deleted one drops out at the next hold()
};

} // namespace kadmel
