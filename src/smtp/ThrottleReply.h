#pragma once

#include <QByteArray>

#include <optional>

namespace kadmel {

// A server's reply that says "too fast" or "limit reached": a pause helps, a change of the mail does not.
struct ThrottleReply
{
    enum class Kind
    {
        Rate,     // too many mails in a short time
        DayLimit, // the day's quota is used up
    };
    Kind kind = Kind::Rate;
    // The wait the reply names ("try again in 60 seconds", "Retry after 5 minutes"), at most a day; none
    // where it names none or only nonsense.
    std::optional<qint64> seconds;
};

// 421 of any kind; 450, 451 and 452 with the enhanced code 4.7.x or 4.5.3; 4.7.0 with "Too many"; Google's
// 450 4.2.1 and "550 5.4.5 Daily … limit exceeded"; Microsoft's 554 5.2.0 SubmissionQuotaExceededException.
// Nothing for any other reply. The code is read as replyCode() reads it.
std::optional<ThrottleReply> throttleOf(const QByteArray& reply);

// The longest wait a reply may name: a day's limit frees within a day.
inline constexpr qint64 MaxThrottleSeconds = 24 * 60 * 60;

} // namespace kadmel
