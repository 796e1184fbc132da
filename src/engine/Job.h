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
    // Ends the job: finished() follows from the event loop, the last the job does, so the owner may delete it
    // in its slot. Later calls do nothing.
    void finish();

private:
    bool m_finished = false;
};

// A job's owner; dropping it cancels the job, also from within the job's finished().
template <typename J> using JobPtr = std::unique_ptr<J>;

template <typename J, typename... Args> JobPtr<J> startJob(Args&&... args)
{
    return std::make_unique<J>(std::forward<Args>(args)...);
}

} // namespace kadmel
