#pragma once

#include "engine/HeldConnections.h"
#include "signin/SignInJob.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

namespace kadmel {

// The query of a redirect, form-decoded once ("+" is a blank, "%2F" a slash, "%25" a percent sign).
QMap<QString, QString> formDecoded(const QByteArray& query);

// The one-time listener on 127.0.0.1 that the browser comes back to from the authorisation page. Each request's
// query goes to the answerer, whose text the browser shows; an empty text answers "not found" (the browser's
// icon request, a stray page). Any local process can connect: it holds a few connections for the timings'
// `redirectIdle` each.
class LoopbackRedirect : public QObject
{
public:
    using Answerer = std::function<QString(const QMap<QString, QString>& query)>;

    LoopbackRedirect(Answerer answerer, const SignInTimings& timings, QObject* parent);
    ~LoopbackRedirect() override;
    bool isListening() const { return m_server.isListening(); }
    // "http://127.0.0.1:<port>/"
    QString address() const;

private:
    void read(QTcpSocket* socket);

    Answerer m_answerer;
    SignInTimings m_timings;
    QTcpServer m_server;
    HeldConnections m_held;
};

} // namespace kadmel
