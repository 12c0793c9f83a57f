#include "ui/platform/event_loop_yielder.h"

#include <QTest>

#include <functional>

using namespace orlenta;
using namespace std::chrono_literals;

namespace {

// An event loop whose clock the test moves by hand.
class ManualEventLoop final : public EventLoop {
public:
    void processEvents() override {
        ++handled;
        if (during) {
            during();
        }
    }
    Clock::time_point now() const override {
        ++clockReads;
        return time;
    }
    YieldPacing pacing() const override { return pace; }

    Clock::time_point time{};
    mutable int clockReads = 0;
    YieldPacing pace;
    int handled = 0;
    std::function<void()> during;
};

}  // namespace

class EventLoopYielderTest final : public QObject {
    Q_OBJECT

private slots:
    void firstYieldHandlesEvents() {
        ManualEventLoop loop;
        EventLoopYielder yielder(loop);
        QVERIFY(yielder.yield());
        QCOMPARE(loop.handled, 1);
    }

    // Guards against spending the run in the event loop: yields close together are skipped.
    void skipsYieldsWithinTheInterval() {
        ManualEventLoop loop;
        EventLoopYielder yielder(loop);
        yielder.yield();
        for (int i = 0; i < 4; ++i) {
            loop.time += 1ms;
            QVERIFY(yielder.yield());
        }
        QCOMPARE(loop.handled, 1);
        loop.time += 1ms;  // 5 ms since the last handling
        QVERIFY(yielder.yield());
        QCOMPARE(loop.handled, 2);
    }

    // Guards against a slow event-loop turn (a list of a million rows laid out again) taking
    // most of the time of the work, and against waiting so long that the window stalls.
    void slowTurnsWidenTheInterval_data() {
        QTest::addColumn<int>("turnMs");
        QTest::addColumn<int>("intervalMs");
        QTest::newRow("instant turn") << 0 << 5;
        QTest::newRow("1 ms turn") << 1 << 5;
        QTest::newRow("2 ms turn") << 2 << 8;
        QTest::newRow("5 ms turn") << 5 << 20;
        QTest::newRow("20 ms turn, capped") << 20 << 30;
    }
    void slowTurnsWidenTheInterval() {
        QFETCH(int, turnMs);
        QFETCH(int, intervalMs);
        ManualEventLoop loop;
        EventLoopYielder yielder(loop);
        loop.during = [&loop, turnMs] { loop.time += std::chrono::milliseconds(turnMs); };
        yielder.yield();
        QCOMPARE(loop.handled, 1);
        // Counted from the end of the turn.
        loop.time += std::chrono::milliseconds(intervalMs - 1);
        yielder.yield();
        QCOMPARE(loop.handled, 1);
        loop.time += 1ms;
        yielder.yield();
        QCOMPARE(loop.handled, 2);
    }

    void measuresTheLongestStall() {
        ManualEventLoop loop;
        EventLoopYielder yielder(loop);
        yielder.yield();
        loop.time += 7ms;
        yielder.yield();
        loop.time += 30ms;
        yielder.yield();
        loop.time += 6ms;
        yielder.yield();
        QCOMPARE(yielder.longestStall(), EventLoopYielder::Clock::duration(30ms));
        QCOMPARE(yielder.processCount(), std::uint64_t(4));

        yielder.resetMeasurement();
        QCOMPARE(yielder.longestStall(), EventLoopYielder::Clock::duration(0ms));
        // The wait before the first handling after a reset is not a stall of the work measured.
        loop.time += 500ms;
        yielder.yield();
        loop.time += 9ms;
        yielder.yield();
        QCOMPARE(yielder.longestStall(), EventLoopYielder::Clock::duration(9ms));
    }

    // Guards against reading the clock for every token, which costs as much as scanning them.
    void frequentYieldsReadTheClockNowAndThen() {
        ManualEventLoop loop;
        EventLoopYielder yielder(loop);
        const int every = loop.pace.frequentCallsPerClockRead;
        QVERIFY(every > 1);
        yielder.yield();
        const int readsAfterFirst = loop.clockReads;
        loop.time += 1s;  // long due
        for (int i = 1; i < every; ++i) {
            QVERIFY(yielder.yieldFrequent());
        }
        QCOMPARE(loop.clockReads, readsAfterFirst);
        QCOMPARE(loop.handled, 1);
        QVERIFY(yielder.yieldFrequent());
        QCOMPARE(loop.handled, 2);
    }

    void frequentYieldsSeeAStopAtOnce() {
        ManualEventLoop loop;
        EventLoopYielder yielder(loop);
        yielder.yield();
        yielder.requestStop();
        QVERIFY(!yielder.yieldFrequent());
    }

    void stopAnswersFalseWithoutHandling() {
        ManualEventLoop loop;
        EventLoopYielder yielder(loop);
        yielder.requestStop();
        QVERIFY(!yielder.yield());
        QCOMPARE(loop.handled, 0);
        loop.time += 1s;
        QVERIFY(!yielder.yield());
        QVERIFY(yielder.stopRequested());
    }

    // Guards against a close handled inside a yield letting the work go on for one more step.
    void stopDuringHandlingEndsThatYield() {
        ManualEventLoop loop;
        EventLoopYielder yielder(loop);
        loop.during = [&yielder] { yielder.requestStop(); };
        QVERIFY(!yielder.yield());
        QCOMPARE(loop.handled, 1);
    }

    void yieldNestedInHandlingWaitsItsTurn() {
        ManualEventLoop loop;
        EventLoopYielder yielder(loop);
        bool nestedAnswer = false;
        bool nested = false;
        loop.during = [&] {
            if (nested) {
                return;
            }
            nested = true;
            loop.time += 1ms;
            nestedAnswer = yielder.yield();
        };
        yielder.yield();
        QVERIFY(nestedAnswer);
        QCOMPARE(loop.handled, 1);
    }
};

QTEST_GUILESS_MAIN(EventLoopYielderTest)
#include "tst_event_loop_yielder.moc"
