#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

namespace kadmel {

// One address as people write it: "Max Müller <max@example.org>", "\"Müller, Max\" <max@example.org>" or
// the bare address. Windows-1252 bytes; `name` without its quotes.
struct Mailbox
{
    QByteArray name;
    QByteArray address;

    friend bool operator==(const Mailbox&, const Mailbox&) = default;
};

// The addresses of a field, separated by "," or ";" (not inside a quoted name); empty entries are skipped.
// Nothing, with the German reason naming the entry and `field` ("Der Empfänger"), when one is no address:
// an unclosed quote or bracket, text behind the ">", or an address holding blanks, quotes, brackets or
// control bytes. An address may hold bytes above 127 (it then needs SMTPUTF8).
std::optional<QList<Mailbox>> parseAddressList(const QByteArray& text, const QByteArray& field, QByteArray* problem);

// The address as it goes into the envelope and the header: UTF-8 when it holds a byte above 127.
QByteArray wireAddress(const QByteArray& address);

} // namespace kadmel
