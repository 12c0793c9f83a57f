// The parallel run held to the one-thread run: the same calls in the same order for every
// thread count, over files around the work-unit sizes, unreadable sources, a stream, and more
// threads than chunks.
#include "engine/chunk_reader.h"
#include "engine/extraction_run.h"
#include "engine/parallel_run.h"
#include "tests/engine/test_files.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

using namespace orlenta;
using namespace orlenta::test;

namespace {

// Every call a run makes but the yields within a file, which only the one-thread run asks.
class EventSink final : public RunSink {
public:
    bool yield(YieldPoint point) override {
        if (point == YieldPoint::BeforeFile) {
            events.append("file");
        }
        return true;
    }
    void chunkRead(std::size_t size) override { events.append(QString("read %1").arg(size)); }
    void chunkScanned() override { events.append("scanned"); }
    void addressFound(std::string_view address) override {
        events.append(QString::fromLatin1(address.data(), static_cast<qsizetype>(address.size())));
    }
    void chunkDone() override { events.append("done"); }
    void fileSkipped(const std::string& path, const std::string& reason) override {
        events.append(QString::fromStdString("skipped " + path + ": " + reason));
    }

    QStringList events;
};

// A source of the test: a path, or a file read as a stream (as standard input is).
struct Source {
    std::string path;
    bool stream = false;
};

}  // namespace

class ParallelRunTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void sameCallsAsOneThread_data();
    void sameCallsAsOneThread();

private:
    std::string write(const QString& name, const QByteArray& bytes);
    std::vector<Source> mixedSources();
    std::vector<Source> tinyFiles();

    QTemporaryDir dir_;
};

void ParallelRunTest::initTestCase() {
    QVERIFY(dir_.isValid());
}

std::string ParallelRunTest::write(const QString& name, const QByteArray& bytes) {
    const QString path = dir_.path() + "/" + name;
    if (!WriteBytes(path, bytes)) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return Local(path);
}

std::vector<Source> ParallelRunTest::mixedSources() {
    // Lengths around the chunk, the reader's read (4 chunks) and the work unit (32 chunks).
    QRandomGenerator random(99);
    std::vector<Source> sources;
    const qsizetype lengths[] = {0,      1,      29999,  30000,   30001, 120001,
                                 959999, 960000, 960001, 2500000, 0,     45000};
    int n = 0;
    for (qsizetype length : lengths) {
        sources.push_back({write(QString("mixed%1.txt").arg(n++), AddressText(random, length))});
    }
    sources.insert(sources.begin() + 3, {Local(MakeUnreadablePath(dir_.path(), "missing"))});
    sources.insert(sources.begin() + 6, {Local(MakeUnreadablePath(dir_.path(), "folder"))});
    sources.insert(sources.begin() + 8, {Local(MakeUnreadablePath(dir_.path(), "device"))});
    sources.insert(sources.begin() + 9, {write("stream.txt", AddressText(random, 100000)), true});
    sources.push_back(sources[7]);  // read again: nothing new
    return sources;
}

std::vector<Source> ParallelRunTest::tinyFiles() {
    // More than one unit's worth of files, with empty and missing ones between.
    QRandomGenerator random(7);
    std::vector<Source> sources;
    for (int i = 0; i < 700; ++i) {
        if (i % 97 == 5) {
            sources.push_back({Local(dir_.path() + QString("/gone%1.txt").arg(i))});
        } else {
            const QByteArray text = (i % 3 == 0 ? "U" : "u") + QByteArray::number(i % 200) +
                                    "@d.org\r\n" + AddressText(random, 4);
            sources.push_back({write(QString("tiny%1.txt").arg(i), i % 50 == 0 ? "" : text)});
        }
    }
    return sources;
}

void ParallelRunTest::sameCallsAsOneThread_data() {
    QTest::addColumn<QString>("sources");
    QTest::addColumn<unsigned>("threads");
    QTest::addColumn<bool>("loneLfEnds");

    for (unsigned threads : {2u, 3u, 8u, 64u}) {
        QTest::addRow("mixed, %u threads", threads) << "mixed" << threads << false;
        QTest::addRow("tiny files, %u threads", threads) << "tiny" << threads << false;
    }
    QTest::newRow("mixed, lone LF ends tokens") << "mixed" << 3u << true;
    QTest::newRow("one small file, more threads than chunks") << "one" << 8u << false;
}

void ParallelRunTest::sameCallsAsOneThread() {
    QFETCH(QString, sources);
    QFETCH(unsigned, threads);
    QFETCH(bool, loneLfEnds);
    const LoneLf loneLf = loneLfEnds ? LoneLf::EndsToken : LoneLf::Ordinary;

    std::vector<Source> list;
    if (sources == "mixed") {
        list = mixedSources();
    } else if (sources == "tiny") {
        list = tinyFiles();
    } else {
        list = {{write("one.txt", "Ann@example.com ann@EXAMPLE.com bob@example.org\r\n")}};
    }
    std::vector<int> streams;
    std::mutex streamsMutex;  // the parallel run opens sources on several threads
    const SourceOpener openAt = [&list, &streams, &streamsMutex](std::size_t i) {
        if (!list[i].stream) {
            return ChunkReader(list[i].path);
        }
        const std::lock_guard<std::mutex> lock(streamsMutex);
        streams.push_back(::open(list[i].path.c_str(), O_RDONLY | O_CLOEXEC));
        return ChunkReader::FromStream(streams.back(), "(stream)");
    };

    EventSink oneThread;
    const RunResult expected = RunExtractionFrom(list.size(), openAt, oneThread, loneLf);

    // Guards against running out of descriptors with many small files in flight.
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    rlimit low = saved;
    low.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 200);
    ::setrlimit(RLIMIT_NOFILE, &low);
    EventSink parallel;
    const RunResult got = RunExtractionInParallel(list.size(), openAt, parallel, threads, loneLf);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    for (int fd : streams) {
        ::close(fd);
    }

    QVERIFY(expected.addressesFound > 50 || sources == "one");
    QCOMPARE(parallel.events.size(), oneThread.events.size());
    for (qsizetype i = 0; i < oneThread.events.size(); ++i) {
        if (parallel.events[i] != oneThread.events[i]) {
            QFAIL(qPrintable(QString("call %1: %2, expected %3")
                                 .arg(i)
                                 .arg(parallel.events[i], oneThread.events[i])));
        }
    }
    QCOMPARE(got.filesRead, expected.filesRead);
    QCOMPARE(got.addressesFound, expected.addressesFound);
    QCOMPARE(got.skipped.size(), expected.skipped.size());
    QVERIFY(!got.stopped);
}

QTEST_GUILESS_MAIN(ParallelRunTest)

#include "tst_parallel_run.moc"
