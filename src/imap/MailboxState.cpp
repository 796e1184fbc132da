#include "imap/MailboxState.h"

#include <QList>

namespace kadmel {
namespace {

// Names are percent-encoded: a user name may hold anything, a line break included.
const QByteArray Kept = "@:.-_";

} // namespace

QByteArray encodeMailboxState(const MailboxState& state)
{
    return "Postfach=" + state.mailbox.toPercentEncoding(Kept) + "\nBenutzer=" + state.user.toPercentEncoding(Kept) +
           "\nUIDVALIDITY=" + QByteArray::number(state.uidValidity) + "\nUID=" + QByteArray::number(state.lastUid) +
           '\n';
}

std::optional<MailboxState> decodeMailboxState(const QByteArray& bytes)
{
    const QByteArrayList lines = bytes.split('\n');
    if (lines.size() != 5 || !lines.at(4).isEmpty())
        return std::nullopt;
    QByteArrayList values;
    const char* keys[] = {"Postfach=", "Benutzer=", "UIDVALIDITY=", "UID="};
    for (int i = 0; i < 4; ++i) {
        if (!lines.at(i).startsWith(keys[i]))
            return std::nullopt;
        values.append(lines.at(i).mid(qsizetype(qstrlen(keys[i]))));
    }
    bool validityOk = false, uidOk = false;
    MailboxState state{QByteArray::fromPercentEncoding(values.at(0)), QByteArray::fromPercentEncoding(values.at(1)),
                       values.at(2).toUInt(&validityOk), values.at(3).toUInt(&uidOk)};
    if (!validityOk || !uidOk || state.mailbox.isEmpty())
        return std::nullopt;
    return state;
}

} // namespace kadmel
