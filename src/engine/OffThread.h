#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QPromise>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace kadmel {

// Pure work of a big mail (its page, its Base64, its file) beside the window's thread, one piece at a
// time: the result comes back to the owner's thread as a queued call, so the event loop never waits for it.
// The work must touch only what it was given. Destroying the runner waits for work that is still running.
class OffThread : public QObject
{
public:
    explicit OffThread(QObject* parent = nullptr) : QObject(parent)
    {
        m_pool.setMaxThreadCount(1);
        connect(&m_watcher, &QFutureWatcherBase::finished, this, [this] {
            const std::function<void()> then = std::exchange(m_then, {});
            if (then)
                then();
        });
    }
    ~OffThread() override { m_pool.waitForDone(); }

    bool isRunning() const { return bool(m_then); }

    // With `beside` false (a small mail: a thread switch costs more than the work) both run here and now.
    template <typename Work, typename Then> void run(bool beside, Work work, Then then)
    {
        if (!beside) {
            then(work());
            return;
        }
        using Result = decltype(work());
        auto result = std::make_shared<std::optional<Result>>();
        auto promise = std::make_shared<QPromise<void>>();
        promise->start();
        m_then = [result, then = std::move(then)]() mutable { then(std::move(**result)); };
        m_watcher.setFuture(promise->future());
        m_pool.start([result, promise, work = std::move(work)]() mutable {
            result->emplace(work());
            promise->finish();
        });
    }

    // Calls `call` on the owner's thread soon; for reports made from inside the work.
    template <typename Call> void post(Call call)
    {
        QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
    }

private:
    QThreadPool m_pool;
    QFutureWatcher<void> m_watcher;
    std::function<void()> m_then;
};

} // namespace kadmel
