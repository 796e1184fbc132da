#pragma once

// Helpers shared by the window tests: answered message boxes, a server that accepts and stays silent (a mail stays in
// hand until the test closes it), and job files.

#include "ui/Prompts.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <functional>

namespace kadmel::test {

class PromptRecorder : public Prompts
{
public:
    struct Asked
    {
        QString text;
        PromptIcon icon;
        PromptButtons buttons;
    };
    QList<Asked> asked;
    QList<PromptAnswer> answers;             // taken in turn; when empty, OK / Cancel / end anyway
    std::function<void(const Asked&)> onAsk; // runs before the answer is given

    PromptAnswer ask(QWidget*, const QString& text, PromptIcon icon, PromptButtons buttons) override
    {
        asked.append({text, icon, buttons});
        if (onAsk)
            onAsk(asked.last());
        if (!answers.isEmpty())
            return answers.takeFirst();
        switch (buttons) {
        case PromptButtons::Ok:
            return PromptAnswer::Ok;
        case PromptButtons::OkCancel:
            return PromptAnswer::Cancel;
        case PromptButtons::RetryOrEnd:
            return PromptAnswer::EndAnyway;
        }
        return PromptAnswer::Cancel;
    }
    QStringList texts() const
    {
        QStringList all;
        for (const Asked& a : asked)
            all.append(a.text);
        return all;
    }
};

// Accepts connections and never answers.
class SilentServer : public QTcpServer
{
public:
    SilentServer()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                m_sockets.append(socket);
        });
    }
    int connections() const { return int(m_sockets.size()); }
    void dropAll()
    {
        for (QTcpSocket* socket : std::as_const(m_sockets))
            socket->abort();
    }

private:
    QList<QTcpSocket*> m_sockets;
};

inline bool writeJob(const QString& jobFolder, const QString& name, const QByteArray& subject)
{
    QDir().mkpath(jobFolder);
    QFile file(QDir(jobFolder).filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write("@@FR absender@example.com@@TO empfaenger@example.com@@SB " + subject +
                      "@@\r\n\r\nGr\x81\xe1"
                      "e aus der Probe.\r\n") > 0;
}

// Every file below the folder with its bytes, to show that nothing on disk changed.
inline QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    const QDir dir(folder);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            files.insert(name, file.readAll());
    }
    for (const QString& sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const auto inner = snapshot(dir.filePath(sub));
        for (auto it = inner.begin(); it != inner.end(); ++it)
            files.insert(sub + QLatin1Char('/') + it.key(), it.value());
    }
    return files;
}

} // namespace kadmel::test
