#include "servicework.h"

#include <QCoreApplication>
#include <QThreadPool>

#include <condition_variable>
#include <utility>

namespace servicework {

// Lives as long as the service or any of its requests.
struct SharedState {
    // Written on the service's thread only; read there by posted changes and
    // anywhere by workers.
    std::atomic<quint64> generation{0};
    std::atomic<bool> serviceGone{false};
};

struct RequestState {
    quint64 generation = 0;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
};

namespace {

// Requests mostly wait on disks, child processes and password dialogs rather
// than compute, so they get a pool of their own: on a two-core machine the
// global pool would let one scan waiting for a password hold back every other
// request. When the application ends, running workers get a moment to notice
// that their service is gone; one that is stuck (a password dialog left open)
// is left behind rather than hanging the exit.
QThreadPool *workPool()
{
    static QThreadPool *pool = [] {
        auto *created = new QThreadPool;
        created->setMaxThreadCount(16);
        created->setExpiryTimeout(30'000);
        qAddPostRoutine([] {
            QThreadPool *ending = std::exchange(pool, nullptr);
            if (ending->waitForDone(3000))
                delete ending;
        });
        return created;
    }();
    return pool;
}

// Changes go through the application object rather than the service: the
// service may be destroyed on its thread while a worker posts, and posting to
// a dead receiver is undefined, whereas the application outlives every
// service. The QPointer and the generation are read on the service's thread,
// where both change, so the checks cannot race.
bool current(const QPointer<QObject> &service, const SharedState &shared, const RequestState &state)
{
    return service && !shared.serviceGone.load() && shared.generation.load() == state.generation;
}

} // namespace

RequestCore::RequestCore(QPointer<QObject> service, std::shared_ptr<SharedState> shared,
                         std::shared_ptr<RequestState> state)
    : m_service(std::move(service))
    , m_shared(std::move(shared))
    , m_state(std::move(state))
{
}

RequestCore::~RequestCore()
{
    flush();
    m_state->finished.store(true);
}

bool RequestCore::isCancelled() const
{
    return m_state->cancelled.load() || isStale();
}

bool RequestCore::isStale() const
{
    return m_shared->serviceGone.load() || m_shared->generation.load() != m_state->generation;
}

void RequestCore::enqueue(std::function<void(QObject &)> change)
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application || isStale())
        return;
    QMetaObject::invokeMethod(
        application,
        [service = m_service, shared = m_shared, state = m_state, change = std::move(change)] {
            if (current(service, *shared, *state))
                change(*service);
        },
        Qt::QueuedConnection);
}

void RequestCore::post(std::function<void(QObject &)> change)
{
    flush();
    enqueue(std::move(change));
}

bool RequestCore::progressDue() const
{
    return std::chrono::steady_clock::now() - m_lastProgress >= progressInterval;
}

void RequestCore::postProgress(std::function<void(QObject &)> change)
{
    std::function<void(QObject &)> due;
    {
        const std::lock_guard lock(m_mutex);
        if (!progressDue()) {
            m_pendingProgress = std::move(change);
            return;
        }
        m_pendingProgress = nullptr;
        m_lastProgress = std::chrono::steady_clock::now();
        due = std::move(change);
    }
    enqueue(std::move(due));
}

void RequestCore::flush()
{
    std::function<void(QObject &)> pending;
    {
        const std::lock_guard lock(m_mutex);
        if (!m_pendingProgress)
            return;
        pending = std::move(m_pendingProgress);
        m_pendingProgress = nullptr;
        m_lastProgress = std::chrono::steady_clock::now();
    }
    enqueue(std::move(pending));
}

bool RequestCore::runOnService(const std::function<void(QObject &)> &work)
{
    flush();
    QCoreApplication *application = QCoreApplication::instance();
    if (!application || isStale())
        return false;

    // The wait must be abandoned when the service goes away meanwhile (its
    // thread may then be waiting for the pool to drain), so the posted step
    // and the worker share a small state instead of a blocking connection,
    // and the step does nothing once the worker has given up on it.
    struct Handshake {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool abandoned = false;
        bool ran = false;
    };
    auto handshake = std::make_shared<Handshake>();
    QMetaObject::invokeMethod(
        application,
        [service = m_service, shared = m_shared, state = m_state, handshake, &work] {
            const std::lock_guard lock(handshake->mutex);
            if (handshake->abandoned)
                return;
            if (current(service, *shared, *state)) {
                work(*service);
                handshake->ran = true;
            }
            handshake->finished = true;
            handshake->done.notify_all();
        },
        Qt::QueuedConnection);

    std::unique_lock lock(handshake->mutex);
    while (!handshake->finished) {
        if (handshake->done.wait_for(lock, progressInterval) == std::cv_status::timeout
            && m_shared->serviceGone.load() && !handshake->finished) {
            handshake->abandoned = true;
            return false;
        }
    }
    return handshake->ran;
}

WorkCore::WorkCore(QObject *service)
    : m_service(service)
    , m_shared(std::make_shared<SharedState>())
{
}

WorkCore::~WorkCore()
{
    if (m_current)
        m_current->cancelled.store(true);
    m_shared->serviceGone.store(true);
}

void WorkCore::start(std::function<void(RequestCore &)> job)
{
    if (m_current)
        m_current->cancelled.store(true);
    auto state = std::make_shared<RequestState>();
    state->generation = m_shared->generation.fetch_add(1) + 1;
    m_current = state;
    QThreadPool *pool = workPool();
    if (!pool)
        return;
    pool->start(
        [service = m_service, shared = m_shared, state, job = std::move(job)] {
            // The service may be gone, or the request superseded, before the
            // pool got to it. A request that was only stopped still runs, so
            // that it ends the way every stopped request ends.
            if (shared->serviceGone.load() || shared->generation.load() != state->generation) {
                state->finished.store(true);
                return;
            }
            RequestCore core(service, shared, state);
            job(core);
        });
}

void WorkCore::cancel()
{
    if (m_current)
        m_current->cancelled.store(true);
}

bool WorkCore::isCancelled() const
{
    return m_current && m_current->cancelled.load();
}

bool WorkCore::isRunning() const
{
    return m_current && !m_current->finished.load();
}

} // namespace servicework
