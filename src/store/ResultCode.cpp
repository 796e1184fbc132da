#include "store/ResultCode.h"

#include "store/DeliveryOutcome.h"

#include <algorithm>
#include <cctype>

namespace kadmel {
namespace {

struct CodeRow
{
    ResultCode code;
    const char* bytes;
    const char* text; // Windows-1252: "\xFC" is "ü", "\xF6" is "ö"
    ResultNature nature;
};

// Every code in one place: stored text, German text, nature. DNS codes come only from older stores;
// nothing tells whether they could pass, so they wait for the user.
constexpr std::array<CodeRow, AllResultCodes.size()> Rows = {{
    {ResultCode::Sent, "MSGSENT", "Das E-Mail wurde erfolgreich gesendet.", ResultNature::Sent},
    {ResultCode::NoDnsAnswer, "ERRMessage1", "Keine Antwort vom DNS", ResultNature::Permanent},
    {ResultCode::DnsError, "ERRMessage2", "Fehlermeldung vom DNS", ResultNature::Permanent},
    {ResultCode::ServerReply, "ERRMessage3",
     "Zeit\xFC"
     "berschreitungsfehler oder Fehlermeldung vom Mailserver.",
     ResultNature::Permanent},
    {ResultCode::NoConnection, "ERRMessage4", "Es konnte keine Verbindung zum Mailserver hergestellt werden.",
     ResultNature::Temporary},
    {ResultCode::ClosedByServer, "ERRMessage5", "Verbindung wurde vom Mailserver getrennt.", ResultNature::Temporary},
    {ResultCode::TimedOut, "ERRMessage6",
     "Zeit\xFC"
     "berschreitungsfehler, Verbindung wurde von ZUB getrennt.",
     ResultNature::Temporary},
    {ResultCode::Refused, "ERRMessage7", "Fehlgeschlagen.", ResultNature::Permanent},
    {ResultCode::NotSecure, "ERRMessage8", "Sichere Verbindung zum Mailserver fehlgeschlagen.",
     ResultNature::Permanent},
    {ResultCode::DeliveryUnclear, "ERRMessage9",
     "Versandstatus unklar: Die E-Mail wurde m\xF6glicherweise zugestellt. "
     "Bitte vor dem erneuten Senden pr\xFC"
     "fen.",
     ResultNature::Unclear},
    {ResultCode::SignInFailed, "ERRMessage10", "Anmeldung beim Mailserver fehlgeschlagen (OAuth).",
     ResultNature::Permanent},
    {ResultCode::Throttled, "ERRMessage11", "Versand pausiert: der Server meldet zu viele E-Mails.",
     ResultNature::Temporary},
    // A report of a refusal after acceptance: the address or the mailbox needs the user, never a retry.
    {ResultCode::Undeliverable, "ERRMessage12",
     "Unzustellbar laut R\xFC"
     "ckmeldung des Empf\xE4ngerservers.",
     ResultNature::Permanent},
}};

constexpr bool rowsInEnumOrder()
{
    for (std::size_t i = 0; i < Rows.size(); ++i) {
        if (Rows.at(i).code != AllResultCodes.at(i) || static_cast<std::size_t>(Rows.at(i).code) != i)
            return false;
    }
    return true;
}
static_assert(rowsInEnumOrder(), "a row is looked up by its code's number");

const CodeRow& rowOf(ResultCode code)
{
    return Rows.at(static_cast<std::size_t>(code));
}

} // namespace

QByteArray codeBytes(ResultCode code)
{
    return QByteArray(rowOf(code).bytes);
}

std::optional<ResultCode> resultCodeOf(const QByteArray& status)
{
    for (const CodeRow& row : Rows) {
        if (status == row.bytes)
            return row.code;
    }
    return std::nullopt;
}

bool isResult(const QByteArray& status, ResultCode code)
{
    return status == rowOf(code).bytes;
}

QByteArray ResultText(ResultCode code)
{
    return QByteArray(rowOf(code).text);
}

QByteArray ResultText(const QByteArray& status)
{
    const std::optional<ResultCode> code = resultCodeOf(status);
    return code ? ResultText(*code) : QByteArray();
}

QByteArray replyCode(const QByteArray& reply)
{
    qsizetype at = 0;
    while (at < reply.size() && (static_cast<unsigned char>(reply[at]) <= 0x20 || reply[at] == 0x7f))
        ++at;
    const QByteArray code = reply.mid(at, 3);
    const bool digits = code.size() == 3 && std::all_of(code.cbegin(), code.cend(), [](char c) {
                            return std::isdigit(static_cast<unsigned char>(c));
                        });
    return digits && code[0] >= '1' && code[0] <= '5' ? code : QByteArray();
}

int replyClass(const QByteArray& reply)
{
    const QByteArray code = replyCode(reply);
    return code.isEmpty() ? 0 : code[0] - '0';
}

ResultNature resultNature(ResultCode code, int replyClass)
{
    if (code == ResultCode::ServerReply && replyClass == 4)
        return ResultNature::Temporary;
    return rowOf(code).nature;
}

ResultNature resultNature(const MailRecord& mail)
{
    const std::optional<ResultCode> code = resultCodeOf(mail.Status);
    if (!code)
        return ResultNature::Permanent;
    return resultNature(*code, *code == ResultCode::ServerReply ? replyClass(storedOutcome(mail).reply) : 0);
}

} // namespace kadmel
