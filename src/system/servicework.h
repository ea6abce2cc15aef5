#pragma once

// How every service runs its background work.
//
// A service owns one ServiceWork per kind of request it runs (a scan, a volume
// list). start() runs a job as a new request on the global thread pool; the
// job receives a Request through which it reports back. The rules:
//
// - Each request has its own cancel flag. cancel() stops the running request
//   (its worker ends at its next check, and what it still posts arrives);
//   start() cancels the previous request of the same ServiceWork and makes it
//   stale: from then on nothing it posts reaches the service, so an old scan
//   can never write over a new one, and nothing revives it.
// - post() queues a change for the service's thread; changes of one request
//   run in the order posted, and are dropped when the service is gone or the
//   request is stale by the time they run.
// - postProgress() is coalesced: at most one progress change per
//   progressInterval reaches the queue; a change that comes sooner is kept and
//   sent before the request's next post (or when it ends), so the last state is
//   always shown and a fast source does not flood the event loop.
// - runOnService() runs a step on the service's thread, behind everything
//   posted before, and waits for it. Like a post, it still runs for a request
//   that was only stopped (a stopped scan finishes its remaining steps). It
//   never deadlocks a service that is being destroyed: the wait gives up as
//   soon as the service is gone.
// - Destroying the service (and with it its ServiceWork objects) cancels every
//   request and returns at once; workers find out on their own.

#include <QObject>
#include <QPointer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

namespace servicework {

inline constexpr std::chrono::milliseconds progressInterval{50};

struct SharedState;
struct RequestState;

// The untyped core behind Request<Service>.
class RequestCore
{
public:
    RequestCore(QPointer<QObject> service, std::shared_ptr<SharedState> shared, std::shared_ptr<RequestState> state);
    ~RequestCore();

    bool isCancelled() const;
    bool isStale() const;
    void post(std::function<void(QObject &)> change);
    void postProgress(std::function<void(QObject &)> change);
    bool progressDue() const;
    bool runOnService(const std::function<void(QObject &)> &work);
    void flush();

private:
    void enqueue(std::function<void(QObject &)> change);

    QPointer<QObject> m_service;
    std::shared_ptr<SharedState> m_shared;
    std::shared_ptr<RequestState> m_state;
    std::mutex m_mutex;
    std::function<void(QObject &)> m_pendingProgress;
    std::chrono::steady_clock::time_point m_lastProgress{};
};

class WorkCore
{
public:
    explicit WorkCore(QObject *service);
    ~WorkCore();

    void start(std::function<void(RequestCore &)> job);
    void cancel();
    bool isRunning() const;
    bool isCancelled() const;

private:
    QPointer<QObject> m_service;
    std::shared_ptr<SharedState> m_shared;
    std::shared_ptr<RequestState> m_current;
};

} // namespace servicework

// What a job sees of its request.
template <class Service>
class Request
{
public:
    explicit Request(servicework::RequestCore &core) : m_core(core) {}

    // Stop was asked, a newer request started, or the service is gone.
    bool isCancelled() const { return m_core.isCancelled(); }
    // A newer request started or the service is gone: posts are dropped.
    bool isStale() const { return m_core.isStale(); }

    void post(std::function<void(Service &)> change)
    {
        m_core.post([change = std::move(change)](QObject &service) { change(static_cast<Service &>(service)); });
    }
    void postProgress(std::function<void(Service &)> change)
    {
        m_core.postProgress([change = std::move(change)](QObject &service) { change(static_cast<Service &>(service)); });
    }
    // Whether a progress change posted now would go out at once rather than
    // wait for the interval; lets a caller batch what must precede it.
    bool progressDue() const { return m_core.progressDue(); }

    // Runs `work` on the service's thread and waits. False, without running
    // it, when the request is stale or the service is gone.
    bool runOnService(const std::function<void(Service &)> &work)
    {
        return m_core.runOnService([&work](QObject &service) { work(static_cast<Service &>(service)); });
    }

    // Sends a kept progress change now.
    void flush() { m_core.flush(); }

private:
    servicework::RequestCore &m_core;
};

template <class Service>
class ServiceWork
{
public:
    explicit ServiceWork(Service *service) : m_core(service) {}

    // Runs `job` on the thread pool as a new request; the previous request of
    // this ServiceWork is cancelled and made stale first. Call on the
    // service's thread.
    void start(std::function<void(Request<Service> &)> job)
    {
        m_core.start([job = std::move(job)](servicework::RequestCore &core) {
            Request<Service> request(core);
            job(request);
        });
    }

    // Stops the running request; it still posts what it posts until it ends.
    void cancel() { m_core.cancel(); }

    // A request was started and has not ended yet.
    bool isRunning() const { return m_core.isRunning(); }
    // The latest request was asked to stop.
    bool isCancelled() const { return m_core.isCancelled(); }

private:
    servicework::WorkCore m_core;
};
