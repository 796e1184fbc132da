#pragma once

#include "engine/DispatcherView.h"

#include <QObject>
#include <QTimer>

namespace kadmel {

// The alert's pause after a filing: in the tray the alert shows the outcome for a while before it closes,
// and the next mail waits for it. Outside the tray, and once the program ends, there is no pause.
class AlertPause : public QObject
{
    Q_OBJECT
public:
    AlertPause(DispatcherView& view, int pauseMs, QObject* parent = nullptr);

    // A mail was filed: over() follows after the pause, or within the call when there is none. Without
    // `holdQueue` (paced sending) over() comes at once and the alert closes after the pause, unless the next
    // mail takes it first.
    void begin(bool holdQueue = true);
    // The next mail is in hand: its alert replaces the one whose pause runs.
    void mailInHand();
    // The program ends: a pause running closes the alert now, and none begins any more.
    void cut();

Q_SIGNALS:
    void over();

private:
    void end();

    DispatcherView& m_view;
    QTimer m_timer;
    bool m_cut = false;
    bool m_owed = false; // over() waits for the pause
};

} // namespace kadmel
