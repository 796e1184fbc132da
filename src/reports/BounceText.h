#pragma once

#include "reports/DeliveryReport.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace kadmel::reports {

// What a bounce in words is told by in its own header (values unfolded, UTF-8).
struct BounceHeader
{
    QByteArray from;
    QByteArray subject;
    QByteArray failedRecipients; // Exim's X-Failed-Recipients
};

// A mailer daemon's bounce without a delivery-status part (Exim's classic form and the like): from a mailer daemon
// or naming failed recipients, and quoting the original's header with its Message-ID (or returning the original as
// a part of its own, `returnedId`), the words before it giving recipients, status and reply. None for any other
// text: a person's mail that quotes an ID is no report.
std::optional<DeliveryReport> readBounceText(const BounceHeader& header, QByteArrayView text,
                                             const QByteArray& returnedId = {});

} // namespace kadmel::reports
