#include "reports/DeliveryReport.h"

#include <cstdlib>

using namespace kadmel;

// Any message: no crash, and whatever is found names its original and holds short texts only.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray message(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<DeliveryReport> report = readDeliveryReport(message);
    if (!report)
        return 0;
    if (report->envelopeId.isEmpty() && report->messageId.isEmpty())
        std::abort();
    for (const ReportedRecipient& recipient : report->recipients)
        if (recipient.diagnostic.size() > MaxDiagnosticBytes || recipient.address.size() > MaxDiagnosticBytes)
            std::abort();
    return 0;
}
