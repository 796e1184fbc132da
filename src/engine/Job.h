#pragma once

#include <QObject>

#include <memory>

namespace kadmel {

// One piece of asynchronous work, as a QNetworkReply is one: it runs from the moment it is made and emits
// finished() exactly once, never from within the call that made it; its result is read from it then.
// Deleting it before cancels it: nothing is heard of it after that.
class Job : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    bool isFinished() const { return m_finished; }

Q_SIGNALS:
    void finished();

protected:
    // Ends the job: finished() follows from the event loop, so the owner may drop it in its slot.
    // Later calls do nothing.
    void finish();

private:
    bool m_finished = false;
};

// Drops a job without a word: its signals are cut at once and it goes at the next turn of the event loop,
// as its own signal may be what is running now.
struct JobDropper
{
    void operator()(QObject* job) const
    {
        job->disconnect();
        job->deleteLater();
    }
};
template <typename J> using JobPtr = std::unique_ptr<J, JobDropper>;

template <typename J, typename... Args> JobPtr<J> startJob(Args&&... args)
{
    return JobPtr<J>(new J(std::forward<Args>(args)...));
}

} // namespace kadmel
