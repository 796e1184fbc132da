#pragma once

#include "smtp/ZUB_SMTP.h"

namespace kadmel {

struct EngineTimings
{
    int pollMs = 5000;       // Timer1
    int alertCloseMs = 5000; // the alert stays this long after the result
    int minJobAgeMs = 2000;  // a job file changed more recently may still be being written
    SmtpTimings smtp;
    int tokenMs = 10000;        // the whole exchange with the OAuth 2.0 token address
    int archiveRetryMs = 60000; // a copy the archive could not take is tried again this often
    // The unit of the retry schedule: steps of 1 … 60 of them, for a day of 1440. A server's pause counts in it
    // too: its growing steps, the 60 of a day's limit, the seconds a reply names (60 to the unit).
    int retryMinuteMs = 60000;
    // Sent mails past [Aufbewahrung] GesendeteTage are looked for this often; a store close to full is said
    // again after storeWarningMs.
    int housekeepingMs = 3600000;
    int storeWarningMs = 86400000;
    // From this body size a mail's parsing, page, Base64 and file are made beside the window's thread.
    qint64 offThreadBytes = 1 << 20;
    // A paced run takes its jobs from a scan's ready list this long before it lists the folder again.
    int runListMs = 60000;
};

} // namespace kadmel
