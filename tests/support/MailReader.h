#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace kadmel::test {

// The message as a recipient's program reads it: read_mail.py's JSON (subject, body, epoch, offset,
// messageId, defects, parts: [name, type, SHA-256] per attachment, addresses: "Name<addr>, <addr>" per address field), or an empty object when the parser could not
// run.
inline QJsonObject readAsRecipient(const QByteArray& message)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(KADMEL_TEST_SUPPORT_DIR "/read_mail.py")});
    python.write(message);
    python.closeWriteChannel();
    if (!python.waitForFinished(10000) || python.exitCode() != 0)
        return {};
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

} // namespace kadmel::test
