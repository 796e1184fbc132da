#pragma once

#include <QObject>
#include <QString>
#include <optional>

namespace kadmel {

class Dispatcher;
class StatusPanel;

// "Alle Senden" ends with what its attempts came to, in panel 2:
// "Alle Senden: 2 gesendet, 1 fehlgeschlagen.", not with the text of its last mail; a run stopped early
// also counts the mails it did not try.
QString sendAllSummaryText(int sent, int failed, std::optional<int> notTried = std::nullopt);

class SendAllSummary : public QObject
{
    Q_OBJECT
public:
    SendAllSummary(Dispatcher& dispatcher, StatusPanel& panel, QObject* parent = nullptr);

    // A run is about to start: the counts begin at zero. cancel() when the dispatcher refused it.
    void begin();
    void cancel() { m_running = false; }

private:
    StatusPanel& m_panel;
    bool m_running = false;
    int m_sent = 0;
    int m_failed = 0;
};

} // namespace kadmel
