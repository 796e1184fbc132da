#pragma once

#include "engine/DispatcherView.h"

#include <QByteArrayList>
#include <QList>

namespace kadmel::test {

// A window stand-in that keeps what the engine showed, for tests that run without widgets.
class RecordingView : public DispatcherView
{
public:
    struct Row
    {
        int folder;
        qint16 id;
        bool bold;
    };

    bool active = false;
    QByteArray message;
    QByteArrayList messages;
    MessagePicture picture = MessagePicture::Mail;
    QList<Row> addedRows;
    QList<std::pair<int, qint16>> removedRows;
    QList<std::pair<qint16, QByteArray>> statusCells;
    QByteArrayList captions;
    QList<bool> idleChanges;
    QList<StartCheck> refusals;
    bool tray = false;
    QByteArrayList alerts;   // texts shown or set in the alert
    int alertsClosed = 0;
    int progressCalls = 0;
    QByteArrayList log; // every call, in order: "message …", "row f id bold", "show-alert …", "close-alert"

    void setServiceState(bool isActive) override { active = isActive; }
    void setMessage(const QByteArray& text) override
    {
        message = text;
        messages.append(text);
        log.append("message " + text);
    }
    void setMessagePicture(MessagePicture p) override { picture = p; }
    void placeProgressBar() override {}
    void SetPBValue(qint32, qint32, qint16) override { ++progressCalls; }
    void AddMailRow(int folder, qint16 id, bool bold) override
    {
        addedRows.append({folder, id, bold});
        log.append("row " + QByteArray::number(folder) + ' ' + QByteArray::number(id) + (bold ? " bold" : ""));
    }
    void removeMailRow(int folder, qint16 pos) override { removedRows.append({folder, pos}); }
    void setRowStatus(int, qint16 pos, const QByteArray& text) override { statusCells.append({pos, text}); }
    void setFolderCaptions(const QByteArray& sent, const QByteArray& failed, const QByteArray& deleted) override
    {
        captions = {sent, failed, deleted};
    }
    void setIdle(bool idle) override { idleChanges.append(idle); }
    void startRefused(StartCheck reason) override { refusals.append(reason); }
    bool inTray() const override { return tray; }
    void ShowAlert(const QByteArray& text) override
    {
        alerts.append(text);
        log.append("show-alert " + text);
    }
    void SetAlertText(const QByteArray& text) override
    {
        alerts.append(text);
        log.append("set-alert " + text);
    }
    void CloseAlert() override
    {
        ++alertsClosed;
        log.append("close-alert");
    }
};

} // namespace kadmel::test
