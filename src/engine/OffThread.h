#pragma once

#include "store/Store.h"

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

// Store::SaveMail of `id`, its file encoded and written beside the window's thread when `beside`; `then`
// gets whether it was written and why not, on the owner's thread.
template <typename Then> void saveMailBeside(OffThread& worker, Store& store, qint16 id, bool beside, Then then)
{
    QString error;
    const std::optional<MailSave> save = store.prepareMailSave(id, &error);
    if (!save)
        return then(false, error);
    const auto write = [save = *save] {
        QString reason;
        const bool written = save.write(&reason);
        return std::pair{written, reason};
    };
    worker.run(beside, write, [&store, save = *save, then](const std::pair<bool, QString>& written) {
        store.mailSaved(save, written.first);
        then(written.first, written.second);
    });
}

} // namespace kadmel
