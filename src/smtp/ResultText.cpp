#include "smtp/ResultText.h"

#include <array>
#include <utility>

namespace kadmel {

QByteArray ResultText(const QByteArray& code)
{
    // Texts in Windows-1252: "\xFC" is "ü".
    static const std::array<std::pair<const char*, const char*>, 11> Texts = {{
        {"MSGSENT", "Das E-Mail wurde erfolgreich gesendet."},
        {"ERRMessage1", "Keine Antwort vom DNS"},
        {"ERRMessage2", "Fehlermeldung vom DNS"},
        {"ERRMessage3", "Zeit\xFC"
                        "berschreitungsfehler oder Fehlermeldung vom Mailserver."},
        {"ERRMessage4", "Es konnte keine Verbindung zum Mailserver hergestellt werden."},
        {"ERRMessage5", "Verbindung wurde vom Mailserver getrennt."},
        {"ERRMessage6", "Zeit\xFC"
                        "berschreitungsfehler, Verbindung wurde von ZUB getrennt."},
        {"ERRMessage7", "Fehlgeschlagen."},
        {"ERRMessage8", "Sichere Verbindung zum Mailserver fehlgeschlagen."},
        {"ERRMessage9", "Versandstatus unklar: Die E-Mail wurde m\xF6glicherweise zugestellt. "
                        "Bitte vor dem erneuten Senden pr\xFC"
                        "fen."},
        {"ERRMessage10", "Anmeldung beim Mailserver fehlgeschlagen (OAuth)."},
    }};
    for (const auto& [key, text] : Texts) {
        if (code == key)
            return QByteArray(text);
    }
    return {};
}

} // namespace kadmel
