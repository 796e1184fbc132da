#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

namespace kadmel::test {

// A TCP server on 127.0.0.1 that plays a script to the first client that connects: steps run in
// order, an expect step holds the script until the client has sent what it names. When the steps
// run out, the server stays silent with the connection open. Every received byte is recorded.
class ScriptedSmtpServer : public QObject
{
    Q_OBJECT
public:
    explicit ScriptedSmtpServer(QObject* parent = nullptr);

    quint16 port() const { return m_server.serverPort(); }
    // A port on 127.0.0.1 where nothing listens (a connection there is refused).
    static quint16 unusedPort();

    // Sends the bytes in one write; the next step waits gapMs, so pieces arrive as segments of their own.
    ScriptedSmtpServer& reply(const QByteArray& bytes, int gapMs = 0) { return add({Kind::Reply, bytes, gapMs}); }
    // Waits for exactly these bytes; anything else is noted in mismatches().
    ScriptedSmtpServer& expect(const QByteArray& bytes) { return add({Kind::Expect, bytes}); }
    // Waits until the client has sent bytes ending in `terminator` (a whole message, say).
    ScriptedSmtpServer& expectUntil(const QByteArray& terminator) { return add({Kind::ExpectUntil, terminator}); }
    // Closes the connection.
    ScriptedSmtpServer& close() { return add({Kind::Close, {}}); }
    // Stops the script here: later steps never run.
    ScriptedSmtpServer& stall() { return add({Kind::Stall, {}}); }

    QByteArray received() const { return m_received; }
    QStringList mismatches() const { return m_mismatches; }
    int connectionCount() const { return m_connections; }
    bool scriptDone() const { return m_next >= m_steps.size(); }

Q_SIGNALS:
    void clientDisconnected();

private:
    enum class Kind
    {
        Reply,
        Expect,
        ExpectUntil,
        Close,
        Stall
    };
    struct Step
    {
        Kind kind;
        QByteArray bytes;
        int gapMs = 0;
    };

    ScriptedSmtpServer& add(const Step& step)
    {
        m_steps.append(step);
        return *this;
    }
    void onNewConnection();
    void run();

    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QList<Step> m_steps;
    qsizetype m_next = 0;
    QByteArray m_received;
    qsizetype m_consumed = 0; // bytes of m_received matched by expect steps
    QStringList m_mismatches;
    int m_connections = 0;
    bool m_waitingGap = false;
};

} // namespace kadmel::test
