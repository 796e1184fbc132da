#include "signin/LoopbackRedirect.h"

#include <QTcpSocket>
#include <QTimer>

namespace kadmel {
namespace {

// A browser's request head is a few hundred bytes; anything far longer is no redirect of ours.
constexpr qsizetype MaxRequestBytes = 16 * 1024;

QByteArray response(const QByteArray& status, const QString& text)
{
    const QByteArray page = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Kadmel Mail System</title>"
                            "</head><body><p>" +
                            text.toHtmlEscaped().toUtf8() + "</p></body></html>";
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\n" +
           "Cache-Control: no-store\r\nContent-Length: " + QByteArray::number(page.size()) + "\r\n\r\n" + page;
}

} // namespace

QMap<QString, QString> formDecoded(const QByteArray& query)
{
    QMap<QString, QString> values;
    for (const QByteArray& pair : query.split('&')) {
        const qsizetype equals = pair.indexOf('=');
        const auto decoded = [](QByteArray text) {
            return QString::fromUtf8(QByteArray::fromPercentEncoding(text.replace('+', ' ')));
        };
        if (!pair.isEmpty())
            values.insert(decoded(pair.left(equals)), equals < 0 ? QString() : decoded(pair.mid(equals + 1)));
    }
    return values;
}

LoopbackRedirect::LoopbackRedirect(Answerer answerer, const SignInTimings& timings, QObject* parent)
    : QObject(parent), m_answerer(std::move(answerer)), m_timings(timings), m_held(timings.redirectIdle)
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            socket->setReadBufferSize(MaxRequestBytes + 1);
            m_held.hold(socket);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    // Out of descriptors, Qt stops accepting; the browser's return is taken once one is free again.
    connect(&m_server, &QTcpServer::acceptError, this,
            [this] { QTimer::singleShot(m_timings.acceptAgain, this, [this] { m_server.resumeAccepting(); }); });
}

LoopbackRedirect::~LoopbackRedirect()
{
    // A page still on its way reaches the browser: its socket outlives the listener until it has closed.
    for (QTcpSocket* socket : findChildren<QTcpSocket*>()) {
        if (socket->state() == QAbstractSocket::ClosingState) {
            socket->setParent(nullptr);
            QTimer::singleShot(m_timings.pageLinger, socket, &QObject::deleteLater);
        }
    }
}

QString LoopbackRedirect::address() const
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(m_server.serverPort());
}

void LoopbackRedirect::read(QTcpSocket* socket)
{
    if (socket->property("answered").toBool())
        return void(socket->readAll());
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    if (head.size() > MaxRequestBytes)
        return void(socket->abort());
    socket->setProperty("head", head);
    if (!head.contains("\r\n\r\n"))
        return;
    socket->setProperty("answered", true);
    // "GET /?code=…&state=… HTTP/1.1"
    const QByteArray target = head.left(head.indexOf("\r\n")).split(' ').value(1);
    const qsizetype mark = target.indexOf('?');
    const QString text =
        target.startsWith('/') && mark >= 0 ? m_answerer(formDecoded(target.mid(mark + 1))) : QString();
    socket->write(text.isEmpty() ? response("404 Not Found", QStringLiteral("Nicht gefunden."))
                                 : response("200 OK", text));
    socket->disconnectFromHost();
}

} // namespace kadmel
