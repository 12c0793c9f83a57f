#include "event_loop_yielder.h"

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
    Clock::time_point now() const override { return time; }

    Clock::time_point time{};
    int handled = 0;
    std::function<void()> during;
};

}  // namespace

class EventLoopYielderTest final : public QObject {
    Q_OBJECT

private slots:
    void firstYieldHandlesEvents() {
        ManualEventLoop loop;
        EventLoopYielder yielder(loop, 5ms);
        QVERIFY(yielder.yield());
        QCOMPARE(loop.handled, 1);
    }

    // Guards against spending the run in the event loop: yields close together are skipped.
    void skipsYieldsWithinTheInterval() {
        ManualEventLoop loop;
        EventLoopYielder yielder(loop, 5ms);
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

    void intervalCountsFromTheEndOfHandling() {
        ManualEventLoop loop;
        EventLoopYielder yielder(loop, 5ms);
        loop.during = [&loop] { loop.time += 20ms; };  // a slow repaint
        yielder.yield();
        loop.during = nullptr;
        loop.time += 4ms;
        yielder.yield();
        QCOMPARE(loop.handled, 1);
        loop.time += 1ms;
        yielder.yield();
        QCOMPARE(loop.handled, 2);
    }

    void measuresTheLongestStall() {
        ManualEventLoop loop;
        EventLoopYielder yielder(loop, 5ms);
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

    void stopAnswersFalseWithoutHandling() {
        ManualEventLoop loop;
        EventLoopYielder yielder(loop, 5ms);
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
        EventLoopYielder yielder(loop, 5ms);
        loop.during = [&yielder] { yielder.requestStop(); };
        QVERIFY(!yielder.yield());
        QCOMPARE(loop.handled, 1);
    }

    void yieldNestedInHandlingWaitsItsTurn() {
        ManualEventLoop loop;
        EventLoopYielder yielder(loop, 5ms);
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
#include "event_loop_yielder_test.moc"
