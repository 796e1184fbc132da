#pragma once

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

namespace kadmel::test {

// An authorisation page on 127.0.0.1 that sends the browser straight back to the redirect address with
// `back` and the state. It keeps the parameters it was asked with.
class AuthorizationPage : public QTcpServer
{
public:
    QByteArray back;
    QUrlQuery asked;

    AuthorizationPage()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    if (!socket->canReadLine())
                        return;
                    asked = QUrlQuery(QUrl::fromEncoded(socket->readLine().split(' ').value(1)));
                    QUrl redirect(asked.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
                    QUrlQuery query(QString::fromLatin1(back));
                    if (!back.contains("state")) // else `back` stands for a return of someone else's
                        query.addQueryItem(QStringLiteral("state"), asked.queryItemValue(QStringLiteral("state")));
                    redirect.setQuery(query);
                    socket->write("HTTP/1.1 302 Found\r\nLocation: " + redirect.toEncoded() + "\r\n\r\n");
                    socket->disconnectFromHost();
                });
        });
    }
    QByteArray url() const { return "http://127.0.0.1:" + QByteArray::number(serverPort()) + "/authorize"; }
};

} // namespace kadmel::test
