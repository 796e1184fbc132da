#pragma once

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace kadmel::test {

// An OAuth 2.0 token address over plain HTTP on 127.0.0.1: each POST gets the next scripted answer (the
// last one stays for all later requests) and its body is recorded.
class TokenEndpoint : public QObject
{
public:
    struct Answer
    {
        int status = 200;
        QByteArray body;
        bool silent = false; // never answers, keeps the connection open
    };

    static Answer token(const QByteArray& token, int expiresIn, const QByteArray& refreshToken = {})
    {
        return {200, R"({"access_token":")" + token + R"(","token_type":"Bearer","expires_in":)" +
                         QByteArray::number(expiresIn) +
                         (refreshToken.isEmpty() ? "}" : R"(,"refresh_token":")" + refreshToken + "\"}")};
    }

    // A person's sign-in granted, its OpenID "id_token" naming konto@example.com; blanks make it `size` bytes.
    static Answer granted(qsizetype size = 0)
    {
        QByteArray body = token("at", 3599, "1//0e-Aktualisierungstoken").body;
        body.insert(body.size() - 1,
                    R"(,"id_token":"e30.)" +
                        QByteArray(R"({"email":"konto@example.com"})").toBase64(QByteArray::Base64UrlEncoding) +
                        ".sig\"");
        return {200, body.insert(1, QByteArray(qMax(size - body.size(), qsizetype(0)), ' '))};
    }

    explicit TokenEndpoint(const QList<Answer>& answers) : m_answers(answers)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onData(socket); });
            }
        });
    }

    QByteArray url() const { return "http://127.0.0.1:" + QByteArray::number(m_server.serverPort()) + "/token"; }
    // The bodies of the POSTs received so far, in order.
    QByteArrayList requests() const { return m_requests; }

private:
    void onData(QTcpSocket* socket)
    {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        const QByteArray head = buffer.left(headEnd).toLower();
        const qsizetype at = head.indexOf("content-length:") + 15;
        const qsizetype length = at < 15 ? 0 : head.mid(at, head.indexOf('\r', at) - at).trimmed().toLongLong();
        if (headEnd < 0 || buffer.size() < headEnd + 4 + length)
            return;
        m_requests.append(buffer.mid(headEnd + 4, length));
        const Answer answer = m_answers.size() > 1 ? m_answers.takeFirst() : m_answers.value(0);
        if (answer.silent)
            return;
        socket->write("HTTP/1.1 " + QByteArray::number(answer.status) +
                      " X\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
                      QByteArray::number(answer.body.size()) + "\r\n\r\n" + answer.body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QList<Answer> m_answers;
    QByteArrayList m_requests;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};

} // namespace kadmel::test
