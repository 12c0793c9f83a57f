// The parallel run held to the one-thread run: the same calls in the same order for every
// thread count, over files around the work-unit sizes, unreadable sources, a stream, and more
// threads than chunks; and under faults: FIFOs whose writers wait for one another, one stream
// named twice, few descriptors free, threads that cannot start; sources made of members (an
// archive's), some failing. With a memory budget too small for the set, the one-thread and the
// parallel runs hand on the same addresses as without.
#include "engine/chunk_reader.h"
#include "engine/extraction_run.h"
#include "engine/parallel_run.h"
#include "engine/seen_emails.h"
#include "tests/engine/test_files.h"

#include <QByteArray>
#include <QDir>
#include <QHash>
#include <QList>
#include <QRandomGenerator>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace orlenta;
using namespace orlenta::test;

namespace {

// Every call a run makes but the yields within a file, which only the one-thread run asks;
// with `occurrences`, every occurrence too, with its offset and whether it is new.
class EventSink final : public RunSink {
public:
    // With `counting`, the occurrences are tallied instead of listed, and the run's counts
    // taken unless `tallyAll` (a reference that tallies every occurrence itself).
    EventSink(bool occurrences, bool counting = false, bool tallyAll = false)
        : occurrences_(occurrences), counting_(counting), takesCounts_(counting && !tallyAll) {}

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
        addresses.append(events.back());
    }
    void chunkDone() override { events.append("done"); }
    void fileSkipped(const std::string& path, const std::string& reason) override {
        events.append(QString::fromStdString("skipped " + path + ": " + reason));
    }
    bool wantsOccurrences() override { return occurrences_; }
    void sourceStarted(const std::string& name) override {
        events.append(QString::fromStdString("source " + name));
        ++source_;
        sourceName_ = QString::fromStdString(name);
    }
    bool takesCounts() override { return takesCounts_; }
    void countsFound(AddressCounts counts) override { counts_ = std::move(counts); }
    void occurrencesFound(const Occurrence* occurrences, std::size_t count) override {
        if (counting_) {
            tally(occurrences, count);
            return;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const Occurrence& o = occurrences[i];
            events.append(QString("%1 at %2%3 %4")
                              .arg(QString::fromLatin1(o.address.data(),
                                                       static_cast<qsizetype>(o.address.size())))
                              .arg(o.offset)
                              .arg(o.isNew ? ", new" : "")
                              .arg(o.hash == HashLowerCased(o.address) ? "" : "bad hash"));
        }
    }

    QStringList events;
    QStringList addresses;

    // The rows of a report, the parallel run's counts first, then those tallied here: address,
    // occurrences, sources, first source, offset, last source.
    QStringList rows() const {
        QStringList all;
        for (std::size_t i = 0; i < counts_.size(); ++i) {
            const AddressCounts::Row row = counts_.row(i);
            all.append(QString("%1 %2 %3 %4 %5 %6")
                           .arg(QString::fromLatin1(row.address.data(),
                                                    static_cast<qsizetype>(row.address.size())))
                           .arg(row.occurrences)
                           .arg(row.sources)
                           .arg(QString::fromStdString(counts_.sourceName(row.firstSource)))
                           .arg(row.offset)
                           .arg(row.lastSource));
        }
        for (const Tallied& row : tallied_) {
            all.append(QString("%1 %2 %3 %4 %5 %6")
                           .arg(row.address)
                           .arg(row.occurrences)
                           .arg(row.sources)
                           .arg(row.firstSource)
                           .arg(row.offset)
                           .arg(row.lastSource));
        }
        return all;
    }

    // The calls but the addresses: a run with a budget hands some on at the end.
    QStringList withoutAddresses() const {
        const QSet<QString> found(addresses.begin(), addresses.end());
        QStringList rest;
        for (const QString& event : events) {
            if (!found.contains(event)) {
                rest.append(event);
            }
        }
        return rest;
    }

private:
    struct Tallied {
        QString address;
        std::uint64_t occurrences;
        std::uint64_t sources;
        QString firstSource;
        std::uint64_t offset;
        std::uint64_t lastSource;
    };

    void tally(const Occurrence* occurrences, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            const QString address =
                QString::fromLatin1(occurrences[i].address.data(),
                                    static_cast<qsizetype>(occurrences[i].address.size()));
            const auto found = rowOf_.constFind(address.toLower());
            if (found == rowOf_.constEnd()) {
                rowOf_.insert(address.toLower(), tallied_.size());
                tallied_.append({address, 1, 1, sourceName_, occurrences[i].offset, source_});
                continue;
            }
            Tallied& row = tallied_[*found];
            ++row.occurrences;
            if (row.lastSource != source_) {
                row.lastSource = source_;
                ++row.sources;
            }
        }
    }

    const bool occurrences_;
    const bool counting_;
    const bool takesCounts_;
    AddressCounts counts_;
    QList<Tallied> tallied_;
    QHash<QString, qsizetype> rowOf_;
    std::uint64_t source_ = 0;  // numbered from 1 as they start
    QString sourceName_;
};

// A source of the test: a path; a file read as a stream (as standard input is), opened anew
// for each source or one descriptor for all that share it ("- -"); or a FIFO, which a writer
// fills with `bytes` once its turn comes.
struct Source {
    enum class Kind { File, Stream, SharedStream, Fifo, Members };
    std::string path;
    Kind kind = Kind::File;
    QByteArray bytes = {};
};

// Writes each FIFO of `sources` in turn, as a shell's "(cat a > fA; cat b > fB) &" does: a
// writer waits for its reader, and the next FIFO waits for the one before to be read.
std::thread WriteFifosInTurn(const std::vector<Source>& sources) {
    return std::thread([&sources] {
        for (const Source& source : sources) {
            if (source.kind == Source::Kind::Fifo) {
                const int fd = ::open(source.path.c_str(), O_WRONLY | O_CLOEXEC);
                if (fd >= 0) {
                    (void)!::write(fd, source.bytes.constData(),
                                   static_cast<std::size_t>(source.bytes.size()));
                    ::close(fd);
                }
            }
        }
    });
}

// Members of a made-up archive: texts around the chunk and unit sizes, an empty one, one that
// fails at once, one that fails after 70000 bytes, and then an end for a reason.
class ScriptedMembers final : public ByteSource {
public:
    explicit ScriptedMembers(std::vector<QByteArray> texts) : texts_(std::move(texts)) {}
    bool nextMember() override {
        at_ = 0;
        error_.clear();
        if (++member_ >= texts_.size()) {
            error_ = "the archive ends early";
            return false;
        }
        return true;
    }
    std::string memberName() const override { return "m" + std::to_string(member_); }
    long read(char* data, std::size_t size) override {
        const QByteArray& text = texts_[member_];
        const bool fails = text == "FAIL" || (member_ % 5 == 4 && at_ >= 70000);
        if (fails) {
            error_ = "damaged";
            return -1;
        }
        const std::size_t n = std::min(size, static_cast<std::size_t>(text.size()) - at_);
        std::memcpy(data, text.constData() + at_, n);
        at_ += n;
        return static_cast<long>(n);
    }
    std::string error() const override { return error_; }

private:
    std::vector<QByteArray> texts_;
    std::size_t member_ = static_cast<std::size_t>(-1);
    std::size_t at_ = 0;
    std::string error_;
};

std::vector<QByteArray> MemberTexts() {
    QRandomGenerator random(11);
    std::vector<QByteArray> texts;
    for (qsizetype length : {0, 1, 29999, 30000, 140000, 45000, 960001, 10, 2000000, 3}) {
        texts.push_back(AddressText(random, length));
    }
    texts[2] = "FAIL";
    return texts;
}

std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(
        QDir("/proc/self/fd")
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
            .size());
}

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
    std::vector<Source> faultSources(const QString& kind);
    std::vector<Source> manyAddresses();

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
    sources.insert(sources.begin() + 9,
                   {write("stream.txt", AddressText(random, 100000)), Source::Kind::Stream});
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

std::vector<Source> ParallelRunTest::faultSources(const QString& kind) {
    QRandomGenerator random(5);
    std::vector<Source> sources;
    if (kind == "fifos") {
        for (const char* name : {"fA", "fB", "fC"}) {
            const QString path = dir_.path() + "/" + name;
            QFile::remove(path);
            ::mkfifo(Local(path).c_str(), 0600);
            sources.push_back({Local(path), Source::Kind::Fifo, {}});
        }
        // More than a pipe holds: each writer waits for its reader to read.
        sources[0].bytes = AddressText(random, 200000);
        sources[1].bytes = AddressText(random, 100000) + " x@y.example.com ";
        // Less than a pipe holds: the writer may come, write and leave before the reader looks.
        sources[2].bytes = " z@w.example.com ";
        sources.insert(sources.begin() + 1, {write("between.txt", AddressText(random, 5000))});
    } else if (kind == "members") {
        for (int i = 0; i < 3; ++i) {
            sources.push_back({write(QString("beside%1.txt").arg(i), AddressText(random, 5000))});
            sources.push_back({"archive" + std::to_string(i), Source::Kind::Members});
        }
    } else if (kind == "stream twice") {
        const std::string path = write("shared.txt", AddressText(random, 100000));
        sources = {{path, Source::Kind::SharedStream}, {path, Source::Kind::SharedStream}};
    } else {  // 40 files larger than read whole at opening, each held open until read
        for (int i = 0; i < 40; ++i) {
            sources.push_back({write(QString("large%1.txt").arg(i), AddressText(random, 200000))});
        }
    }
    return sources;
}

std::vector<Source> ParallelRunTest::manyAddresses() {
    // 40,000 distinct addresses, each met up to four times in random case, scattered over
    // files: repeats fall on both sides of the freeze and in every partition.
    QRandomGenerator random(11);
    std::vector<Source> sources;
    for (int file = 0; file < 6; ++file) {
        QByteArray text;
        for (int i = 0; i < 30000; ++i) {
            QByteArray address = "Someone." + QByteArray::number(random.bounded(40000)) + "@d" +
                                 QByteArray::number(random.bounded(7)) + ".example.com";
            for (char& c : address) {
                if (random.bounded(4) == 0) {
                    c = static_cast<char>(QChar::toUpper(c));
                }
            }
            text += address + (random.bounded(3) == 0 ? "\r\n" : " ");
        }
        sources.push_back({write(QString("many%1.txt").arg(file), text)});
    }
    return sources;
}

void ParallelRunTest::sameCallsAsOneThread_data() {
    QTest::addColumn<QString>("sources");
    QTest::addColumn<unsigned>("threads");
    QTest::addColumn<bool>("loneLfEnds");
    QTest::addColumn<int>("freeDescriptors");  // above those open; 0: the usual limit
    QTest::addColumn<int>("threadStarts");     // threads that may start; -1: all
    QTest::addColumn<int>("budgetKiB");        // the memory budget; 0: none
    // 1: the sink wants every occurrence; 2: to count them, taking the parallel run's counts
    QTest::addColumn<int>("occurrences");

    for (unsigned threads : {2u, 3u, 8u, 64u}) {
        QTest::addRow("mixed, %u threads", threads)
            << "mixed" << threads << false << 0 << -1 << 0 << 0;
        QTest::addRow("tiny files, %u threads", threads)
            << "tiny" << threads << false << 0 << -1 << 0 << 0;
    }
    QTest::newRow("mixed, lone LF ends tokens") << "mixed" << 3u << true << 0 << -1 << 0 << 0;
    QTest::newRow("one small file, more threads than chunks")
        << "one" << 8u << false << 0 << -1 << 0 << 0;
    // Sources opened ahead of their turn: a FIFO's open waited for a writer that waited itself.
    QTest::newRow("FIFOs written one after the other")
        << "fifos" << 2u << false << 0 << -1 << 0 << 0;
    // The second name of one stream got its second chunk, read ahead.
    QTest::newRow("one stream named twice") << "stream twice" << 2u << false << 0 << -1 << 0 << 0;
    // Members of a source: each starts fresh chunks, is named, fails alone.
    QTest::newRow("sources made of members") << "members" << 2u << false << 0 << -1 << 0 << 0;
    QTest::newRow("sources made of members, 8 threads")
        << "members" << 8u << false << 0 << -1 << 0 << 0;
    // Files were skipped as "Too many open files", differently on each run.
    QTest::newRow("large files, 12 descriptors free")
        << "large" << 2u << false << 12 << -1 << 0 << 0;
    QTest::newRow("large files, 1 descriptor free") << "large" << 3u << false << 1 << -1 << 0 << 0;
    // std::thread's failure ended the run in std::terminate.
    QTest::newRow("no thread can start") << "mixed" << 2u << false << 0 << 0 << 0 << 0;
    QTest::newRow("only one worker can start") << "mixed" << 4u << false << 0 << 1 << 0 << 0;
    QTest::newRow("two of nine threads fail") << "tiny" << 8u << false << 0 << 7 << 0 << 0;
    // Past the budget: addresses were lost, doubled or handed on out of order. 1 thread is the
    // one-thread run with the budget.
    for (unsigned threads : {1u, 2u, 8u}) {
        QTest::addRow("budget passed, %u threads", threads)
            << "many" << threads << false << 0 << -1 << 200 << 0;
    }
    // A partition's set passes the budget in turn: it is split again by other bits.
    QTest::newRow("partitions split again") << "many" << 2u << false << 0 << -1 << 90 << 0;
    QTest::newRow("budget passed, mixed sources") << "mixed" << 3u << false << 0 << -1 << 120 << 0;
    // No thread for the spill's file either: the scan writes its blocks itself.
    QTest::newRow("no thread can start, budget passed")
        << "many" << 2u << false << 0 << 0 << 200 << 0;
    // Offsets lost their piece's place in its source, or a stream's earlier units.
    QTest::newRow("mixed, every occurrence") << "mixed" << 3u << false << 0 << -1 << 0 << 1;
    QTest::newRow("one stream named twice, every occurrence")
        << "stream twice" << 2u << false << 0 << -1 << 0 << 1;
    QTest::newRow("members, every occurrence") << "members" << 2u << false << 0 << -1 << 0 << 1;
    QTest::newRow("tiny files, every occurrence") << "tiny" << 8u << false << 0 << -1 << 0 << 1;
    QTest::newRow("no thread can start, every occurrence")
        << "mixed" << 2u << false << 0 << 0 << 0 << 1;
    // A row's counts, first source or offset differed from the one thread's tally: sources
    // numbered apart from the calling thread's, an occurrence counted twice or in no shard.
    QTest::newRow("mixed, counted") << "mixed" << 3u << false << 0 << -1 << 0 << 2;
    QTest::newRow("one stream named twice, counted")
        << "stream twice" << 2u << false << 0 << -1 << 0 << 2;
    QTest::newRow("members, counted") << "members" << 8u << false << 0 << -1 << 0 << 2;
    QTest::newRow("tiny files, counted") << "tiny" << 8u << false << 0 << -1 << 0 << 2;
    QTest::newRow("budget passed, counted") << "many" << 2u << false << 0 << -1 << 200 << 2;
    QTest::newRow("no thread can start, counted") << "mixed" << 2u << false << 0 << 0 << 0 << 2;
    // The one-thread run counts in its set too, and past a frozen set tallies the rest.
    QTest::newRow("one thread, counted") << "mixed" << 1u << false << 0 << -1 << 0 << 2;
    QTest::newRow("one thread, budget passed, counted")
        << "many" << 1u << false << 0 << -1 << 200 << 2;
}

void ParallelRunTest::sameCallsAsOneThread() {
    QFETCH(QString, sources);
    QFETCH(unsigned, threads);
    QFETCH(bool, loneLfEnds);
    QFETCH(int, freeDescriptors);
    QFETCH(int, threadStarts);
    QFETCH(int, budgetKiB);
    QFETCH(int, occurrences);
    const LoneLf loneLf = loneLfEnds ? LoneLf::EndsToken : LoneLf::Ordinary;

    std::vector<Source> list;
    if (sources == "mixed") {
        list = mixedSources();
    } else if (sources == "tiny") {
        list = tinyFiles();
    } else if (sources == "many") {
        list = manyAddresses();
    } else if (sources == "one") {
        list = {{write("one.txt", "Ann@example.com ann@EXAMPLE.com bob@example.org\r\n")}};
    } else {
        list = faultSources(sources);
    }
    std::vector<int> streams;
    int sharedStream = -1;    // opened anew for each run
    std::mutex streamsMutex;  // the parallel run opens sources on several threads
    const SourceOpener openAt = [&](std::size_t i) {
        switch (list[i].kind) {
            case Source::Kind::File:
                return ChunkReader(list[i].path);
            case Source::Kind::Fifo:
                return ChunkReader(list[i].path, PathKinds::RegularFilesAndPipes);
            case Source::Kind::SharedStream:
                return ChunkReader::FromStream(sharedStream, "(stream)");
            case Source::Kind::Members:
                return ChunkReader::FromSource(std::make_unique<ScriptedMembers>(MemberTexts()),
                                               list[i].path);
            case Source::Kind::Stream:
                break;
        }
        const std::lock_guard<std::mutex> lock(streamsMutex);
        streams.push_back(::open(list[i].path.c_str(), O_RDONLY | O_CLOEXEC));
        return ChunkReader::FromStream(streams.back(), "(stream)");
    };
    const AheadOpener openAhead = [&list](std::size_t i) -> std::optional<ChunkReader> {
        if (list[i].kind != Source::Kind::File) {
            return std::nullopt;
        }
        return ChunkReader(list[i].path);
    };
    const auto run = [&](const auto& runOnce) {
        if (list.front().kind == Source::Kind::SharedStream) {
            sharedStream = ::open(list.front().path.c_str(), O_RDONLY | O_CLOEXEC);
        }
        std::thread writer = WriteFifosInTurn(list);
        const RunResult result = runOnce();
        writer.join();
        if (sharedStream >= 0) {
            ::close(sharedStream);
        }
        return result;
    };

    EventSink oneThread(occurrences > 0, occurrences == 2, true);
    const RunResult expected =
        run([&] { return RunExtractionFrom(list.size(), openAt, oneThread, loneLf); });

    // Guards against running out of descriptors with many small files in flight, or leaves
    // only a few free.
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    rlimit low = saved;
    low.rlim_cur = freeDescriptors == 0
                       ? std::min<rlim_t>(saved.rlim_cur, 200)
                       : static_cast<rlim_t>(OpenDescriptors() + 2 +
                                             freeDescriptors);  // + the writer's, the stream's
    ::setrlimit(RLIMIT_NOFILE, &low);
    if (threadStarts >= 0) {
        LimitThreadStartsForTests(static_cast<std::size_t>(threadStarts));
    }
    // Small blocks and few partitions: records cut across blocks, partitions large enough to
    // be split again.
    MemoryBudget budget;
    MemoryBudget::Report report;
    if (budgetKiB > 0) {
        budget.bytes = static_cast<std::size_t>(budgetKiB) << 10;
        budget.blockSize = 512;
        budget.partitions = 3;
        budget.report = &report;
    }
    EventSink parallel(occurrences > 0, occurrences == 2);
    const RunResult got = run([&] {
        return threads == 1 ? RunExtractionFrom(list.size(), openAt, parallel, loneLf, budget)
                            : RunExtractionInParallel(list.size(), openAt, parallel, threads,
                                                      loneLf, openAhead, budget);
    });
    LimitThreadStartsForTests(std::numeric_limits<std::size_t>::max());
    ::setrlimit(RLIMIT_NOFILE, &saved);
    for (int fd : streams) {
        ::close(fd);
    }

    QVERIFY(expected.addressesFound > 50 || sources == "one");
    QCOMPARE(expected.skipped.empty(),
             sources != "mixed" && sources != "tiny" && sources != "members");
    if (sources == "members") {
        QVERIFY(oneThread.events.contains("skipped archive1:m2: damaged"));
        QVERIFY(oneThread.events.contains("skipped archive1:m4: damaged"));
        QVERIFY(oneThread.events.contains("skipped archive1: the archive ends early"));
        QCOMPARE(expected.skipped.size(), 9u);
    }
    if (budgetKiB > 0) {
        QVERIFY(report.frozen && report.spilled > 100);
        QVERIFY(budgetKiB != 90 || report.deepestLevel >= 2);
        QCOMPARE(parallel.addresses, oneThread.addresses);
        parallel.events = parallel.withoutAddresses();
        oneThread.events = oneThread.withoutAddresses();
    }
    QCOMPARE(parallel.events.size(), oneThread.events.size());
    for (qsizetype i = 0; i < oneThread.events.size(); ++i) {
        if (parallel.events[i] != oneThread.events[i]) {
            QFAIL(qPrintable(QString("call %1: %2, expected %3")
                                 .arg(i)
                                 .arg(parallel.events[i], oneThread.events[i])));
        }
    }
    QCOMPARE(parallel.rows(), oneThread.rows());
    QCOMPARE(got.filesRead, expected.filesRead);
    QCOMPARE(got.addressesFound, expected.addressesFound);
    QCOMPARE(got.skipped.size(), expected.skipped.size());
    QVERIFY(!got.stopped);
}

QTEST_GUILESS_MAIN(ParallelRunTest)

#include "tst_parallel_run.moc"
