#pragma once

#include "engine/Job.h"
#include "engine/TokenRequest.h"

#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

namespace kadmel {

// The time limits of a person's sign-in; tests shorten them.
struct SignInTimings
{
    // The whole browser sign-in, from the page opened to the browser's return.
    std::chrono::milliseconds browserLimit = std::chrono::minutes(5);
    // Each token request of a sign-in; the whole attempt is bounded by its own limit.
    std::chrono::milliseconds request = std::chrono::seconds(30);
    // One second of the device code's interval and expiry.
    std::chrono::milliseconds deviceSecond = std::chrono::seconds(1);
    // How long the loopback listener holds an idle connection.
    std::chrono::milliseconds redirectIdle = std::chrono::seconds(5);
    // How long a page on its way to the browser outlives the listener.
    std::chrono::milliseconds pageLinger = std::chrono::seconds(5);
    // Out of descriptors, the listener accepts again after this.
    std::chrono::milliseconds acceptAgain = std::chrono::milliseconds(500);
};

// Opens an address in the user's browser, false when none could be opened. Without one (a terminal) the
// address is only shown.
using BrowserOpener = std::function<bool(const QUrl&)>;

// Why a token answer to a person's sign-in is no success: no access token, or no refresh token to keep.
std::optional<QString> signInRefusal(const TokenAnswer& answer);

// A person's sign-in at the service, in the browser or with a device code; what is kept is the refresh token.
// A job: it starts when made and finishes once, signed in or with the German reason; dropping it cancels.
// No widget is needed: the address to open and the caption to show come as values and as waiting().
class SignInJob : public Job
{
    Q_OBJECT
public:
    // Empty when the sign-in failed; error() then says why.
    const QByteArray& refreshToken() const { return m_refreshToken; }
    // The signed-in address where the service named it, else empty.
    const QString& account() const { return m_account; }
    const QString& error() const { return m_error; }

    // While it waits on the person: the address to open by hand, and what to say above it
    // ("Code ABCD-EFGH eingeben unter:"). Empty before.
    const QUrl& address() const { return m_address; }
    const QString& caption() const { return m_caption; }

Q_SIGNALS:
    // address() and caption() are set; comes at most once, before finished().
    void waiting();

protected:
    using Job::Job;
    void wait(const QUrl& address, const QString& caption);
    void succeed(const QByteArray& refreshToken, const QString& account);
    void fail(const QString& reason);

private:
    QByteArray m_refreshToken;
    QString m_account;
    QString m_error;
    QUrl m_address;
    QString m_caption;
};

} // namespace kadmel
