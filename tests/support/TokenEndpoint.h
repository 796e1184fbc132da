#pragma once

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
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

    TokenEndpoint()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onData(socket); });
            }
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    QByteArray url() const { return "http://127.0.0.1:" + QByteArray::number(port()) + "/token"; }

    static Answer token(const QByteArray& token, int expiresIn, const QByteArray& refreshToken = {})
    {
        QJsonObject json{
            {text("access_token"), text(token)}, {text("token_type"), text("Bearer")}, {text("expires_in"), expiresIn}};
        if (!refreshToken.isEmpty())
            json.insert(text("refresh_token"), text(refreshToken));
        return {200, QJsonDocument(json).toJson(QJsonDocument::Compact)};
    }
    static Answer error(const QByteArray& code, const QByteArray& description, int status = 400)
    {
        const QJsonObject json{{text("error"), text(code)}, {text("error_description"), text(description)}};
        return {status, QJsonDocument(json).toJson(QJsonDocument::Compact)};
    }

    void answer(const QList<Answer>& answers) { m_answers = answers; }
    // The bodies of the POSTs received so far, in order.
    QByteArrayList requests() const { return m_requests; }

private:
    static QString text(const QByteArray& latin1) { return QString::fromLatin1(latin1); }

    void onData(QTcpSocket* socket)
    {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        qsizetype length = 0;
        for (const QByteArray& line : buffer.left(headEnd).split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        if (buffer.size() < headEnd + 4 + length)
            return;
        m_requests.append(buffer.mid(headEnd + 4, length));
        buffer.clear();
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
