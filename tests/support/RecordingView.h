#pragma once

#include "engine/DispatcherView.h"

#include <QByteArrayList>

#include <algorithm>

namespace kadmel::test {

// A window stand-in that keeps what the engine showed, for tests that run without widgets.
// `log` holds every call in order: "message …", "row <folder> <id>[ bold]", "remove <folder> <pos>",
// "status <pos> …", "renumbered", "show-alert …", "set-alert …", "close-alert".
class RecordingView : public DispatcherView
{
public:
    bool active = false;
    bool tray = false;
    QByteArray message;
    QByteArrayList messages;
    QByteArrayList log;
    QMap<qint16, QDateTime> retryTimes;
    QByteArray runProgress;

    // How many texts panel 2 showed that contain `part`.
    qsizetype said(const QByteArray& part) const
    {
        return std::count_if(messages.cbegin(), messages.cend(), [&](const QByteArray& m) { return m.contains(part); });
    }

    void setServiceState(bool isActive) override { active = isActive; }
    void setMessage(const QByteArray& text) override
    {
        message = text;
        messages.append(text);
        log.append("message " + text);
    }
    void setMessagePicture(MessagePicture) override {}
    void placeProgressBar() override {}
    void SetPBValue(qint32, qint32, qint16) override {}
    void mailChanged(const MailChange& change) override
    {
        const QByteArray to = QByteArray::number(change.folder), id = QByteArray::number(change.id);
        if (change.kind == MailChange::Kind::Filed)
            log.append("row " + to + ' ' + id + " bold");
        else if (change.kind == MailChange::Kind::Moved)
            log << "row " + to + ' ' + id
                << "remove " + QByteArray::number(change.fromFolder) + ' ' + QByteArray::number(change.pos);
        else
            log.append("status " + QByteArray::number(change.pos) + ' ' + change.statusText);
    }
    void foldersRenumbered() override { log.append("renumbered"); }
    void setRetryTimes(const QMap<qint16, QDateTime>& times) override { retryTimes = times; }
    void setRunProgress(const QByteArray& text) override { runProgress = text; }
    void setIdle(bool) override {}
    void startRefused(StartCheck, const QString&) override {}
    bool inTray() const override { return tray; }
    void ShowAlert(const QByteArray& text) override { log.append("show-alert " + text); }
    void SetAlertText(const QByteArray& text) override { log.append("set-alert " + text); }
    void CloseAlert() override { log.append("close-alert"); }
};

} // namespace kadmel::test
