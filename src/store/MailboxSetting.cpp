#include "store/MailboxSetting.h"

#include <algorithm>

namespace kadmel {

ReportMailbox readReportMailbox(const IniSection& section, QString* problem)
{
    const QByteArray value = section.value("Postfach").value_or(QByteArray()).trimmed();
    if (value.isEmpty())
        return {};
    const qsizetype colon = value.lastIndexOf(':');
    const QByteArray host = value.left(colon).trimmed();
    const QByteArray port = value.mid(colon + 1).trimmed();
    const bool digits = !port.isEmpty() && port.size() <= 5 &&
                        std::all_of(port.cbegin(), port.cend(), [](char c) { return c >= '0' && c <= '9'; });
    // A host name never holds blanks, controls or bytes past ASCII; such a value is a typing slip.
    const bool plainHost =
        std::all_of(host.cbegin(), host.cend(), [](char c) { return c > ' ' && c < 127 && c != '/'; });
    if (colon <= 0 || host.isEmpty() || !plainHost || !digits || port.toInt() < 1 || port.toInt() > 65535) {
        if (problem)
            *problem = QStringLiteral("[Rueckmeldungen] Postfach muss die Form IMAP-Server:Port haben; das Postfach "
                                      "wird nicht gelesen.");
        return {};
    }
    return {host, quint16(port.toInt()), section.value("Verschieben").value_or(QByteArray()).trimmed()};
}

} // namespace kadmel
