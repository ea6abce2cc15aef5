#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <thread>

#include "system/servicework.h"

namespace {

// A service that only records what its requests posted.
class Recorder : public QObject
{
    Q_OBJECT

public:
    QStringList posts;
    int progressPosts = 0;
    int lastProgress = -1;
    ServiceWork<Recorder> work{this};
};

// Waits for a flag set by a worker without running the event loop.
bool waitFor(const std::atomic<bool> &flag, int milliseconds = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!flag.load() && timer.elapsed() < milliseconds)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return flag.load();
}

} // namespace

class TestServiceWork : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Stop, then a new request at once: the old one ends, and nothing it
    // posts from then on reaches the service, even what it posts while it
    // winds down.
    void aNewRequestSilencesTheOldOne()
    {
        Recorder service;
        std::atomic<bool> oldStarted{false};
        std::atomic<bool> oldEnded{false};
        std::atomic<bool> oldSawCancel{false};
        service.work.start([&](Request<Recorder> &request) {
            oldStarted = true;
            while (!request.isCancelled()) {
                request.post([](Recorder &r) { r.posts.append(QStringLiteral("old")); });
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            oldSawCancel = true;
            for (int i = 0; i < 50; ++i)
                request.post([](Recorder &r) { r.posts.append(QStringLiteral("old after stop")); });
            oldEnded = true;
        });
        QVERIFY(waitFor(oldStarted));
        QTRY_VERIFY(!service.posts.isEmpty());

        service.work.cancel();
        service.work.start([](Request<Recorder> &request) {
            request.post([](Recorder &r) { r.posts.append(QStringLiteral("new")); });
        });
        const qsizetype before = service.posts.size();
        QTRY_VERIFY(service.posts.contains(QStringLiteral("new")));
        QVERIFY(waitFor(oldEnded));
        QVERIFY(oldSawCancel);
        QTest::qWait(50);
        QCOMPARE(service.posts.mid(before), QStringList{QStringLiteral("new")});
    }

    // A request that was stopped but not superseded still delivers what it
    // posts while it ends, and still runs its steps on the service (a scan's
    // marking of its hits, its completion step).
    void aStoppedRequestStillFinishes()
    {
        Recorder service;
        std::atomic<bool> started{false};
        service.work.start([&](Request<Recorder> &request) {
            started = true;
            while (!request.isCancelled())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            request.runOnService([](Recorder &r) { r.posts.append(QStringLiteral("step")); });
            request.post([](Recorder &r) { r.posts.append(QStringLiteral("done")); });
        });
        QVERIFY(waitFor(started));
        service.work.cancel();
        QTRY_COMPARE(service.posts, (QStringList{QStringLiteral("step"), QStringLiteral("done")}));
        QTRY_VERIFY(!service.work.isRunning());
    }

    // Tens of thousands of progress posts become a handful, the last value
    // always arrives, and a plain post after them keeps its place.
    void progressIsCoalesced()
    {
        Recorder service;
        constexpr int steps = 50'000;
        QElapsedTimer timer;
        timer.start();
        service.work.start([](Request<Recorder> &request) {
            for (int i = 0; i <= steps; ++i) {
                request.postProgress([i](Recorder &r) {
                    ++r.progressPosts;
                    r.lastProgress = i;
                });
            }
            request.post([](Recorder &r) { r.posts.append(QString::number(r.lastProgress)); });
        });
        QTRY_COMPARE(service.posts, QStringList{QString::number(steps)});
        const qint64 allowed = timer.elapsed() / servicework::progressInterval.count() + 2;
        QVERIFY2(service.progressPosts <= allowed,
                 qPrintable(QStringLiteral("%1 progress posts in %2 ms").arg(service.progressPosts).arg(timer.elapsed())));
    }

    void runOnServiceWaitsBehindEarlierPosts()
    {
        Recorder service;
        std::atomic<bool> done{false};
        QStringList seen;
        bool ran = false;
        service.work.start([&](Request<Recorder> &request) {
            request.post([](Recorder &r) { r.posts.append(QStringLiteral("first")); });
            ran = request.runOnService([&seen](Recorder &r) { seen = r.posts; });
            done = true;
        });
        QTRY_VERIFY(done.load());
        QVERIFY(ran);
        QCOMPARE(seen, QStringList{QStringLiteral("first")});
    }

    // The service goes away while its worker waits for a step on the
    // service's thread that never gets to run: the wait ends by itself and
    // the step is never run.
    void destroyingTheServiceReleasesAWaitingWorker()
    {
        auto *service = new Recorder;
        std::atomic<bool> waiting{false};
        std::atomic<bool> returned{false};
        std::atomic<bool> result{true};
        std::atomic<bool> stepRan{false};
        service->work.start([&](Request<Recorder> &request) {
            waiting = true;
            result = request.runOnService([&](Recorder &) { stepRan = true; });
            request.post([&](Recorder &) { stepRan = true; });
            returned = true;
        });
        QVERIFY(waitFor(waiting));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        delete service; // without running the event loop first
        QVERIFY(waitFor(returned));
        QVERIFY(!result.load());
        QCoreApplication::processEvents();
        QVERIFY(!stepRan.load());
    }
};

QTEST_GUILESS_MAIN(TestServiceWork)
#include "tst_servicework.moc"
