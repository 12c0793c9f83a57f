// A run over several files: order, duplicates across files, chunk borders, the yield points,
// stopping, and paths that cannot be read.
#include "engine/chunk_reader.h"
#include "engine/extraction_run.h"
#include "engine/seen_emails.h"
#include "tests/engine/test_files.h"
#include "tests/support/extract_emails.h"
#include "tests/support/read_file_chunks.h"

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <map>

using namespace orlenta;
using namespace orlenta::test;

namespace {

// Writes down everything a run hands over, and can ask the run to stop at the n-th yield of
// one kind.
class RecordingSink final : public RunSink {
public:
    bool yield(YieldPoint point) override {
        ++yields[point];
        events.append(Name(point));
        if (stopAt && point == *stopAt && yields[point] == stopAfter) {
            return false;
        }
        return true;
    }
    void chunkScanned() override { events.append("scanned"); }
    void addressFound(std::string_view address) override {
        addresses.append(QByteArray(address.data(), static_cast<qsizetype>(address.size())));
        events.append("address");
    }
    void chunkDone() override { events.append("done"); }
    void fileSkipped(const std::string& path, const std::string& reason) override {
        skipped.append(QString::fromStdString(path) + ": " + QString::fromStdString(reason));
        events.append("skipped");
    }

    static QString Name(YieldPoint point) {
        switch (point) {
            case YieldPoint::BeforeFile:
                return "file";
            case YieldPoint::BeforeFullChunk:
                return "full";
            case YieldPoint::BeforeCandidate:
                return "candidate";
            case YieldPoint::BeforeAppend:
                return "append";
        }
        return {};
    }

    std::map<YieldPoint, int> yields;
    QStringList events;
    QList<QByteArray> addresses;
    QStringList skipped;
    std::optional<YieldPoint> stopAt;
    int stopAfter = 0;
};

}  // namespace

class ExtractionRunTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void duplicatesAcrossFilesKeepFirstSpelling();
    void secondRunStartsAfresh();
    void borders_data();
    void borders();
    void yieldPointsAreCountedExactly();
    void fullChunkYieldsOnlyBeforeFullChunks_data();
    void fullChunkYieldsOnlyBeforeFullChunks();
    void stopEndsTheRunAtOnce_data();
    void stopEndsTheRunAtOnce();
    void unreadablePathsAreReportedAndPassedOver();
    void pathsAreFetchedJustBeforeReading();
    void agreesWithPipelineOverRandomFiles();
    void hostileFilesComeThrough_data();
    void hostileFilesComeThrough();
    void addressPast2GiBIsFound();

private:
    QString write(const QString& name, const QByteArray& content) {
        const QString path = dir_.filePath(name);
        return WriteBytes(path, content) ? path : QString();
    }
    QTemporaryDir dir_;
};

void ExtractionRunTest::initTestCase() {
    QVERIFY(dir_.isValid());
}

void ExtractionRunTest::duplicatesAcrossFilesKeepFirstSpelling() {
    const QString first = write("first.txt", "Ann@Example.com, bob@example.org\r\n");
    const QString second =
        write("second.html", "<p>ANN@EXAMPLE.COM BOB@example.org cy@example.net</p>");
    RecordingSink sink;
    const RunResult result = RunExtraction({Local(first), Local(second)}, sink);
    QCOMPARE(sink.addresses,
             (QList<QByteArray>{"Ann@Example.com", "bob@example.org", "cy@example.net"}));
    QCOMPARE(result.filesRead, std::size_t{2});
    QCOMPARE(result.addressesFound, std::size_t{3});
    QVERIFY(!result.stopped);
    QVERIFY(result.skipped.empty());
}

void ExtractionRunTest::secondRunStartsAfresh() {
    // The set of addresses met lives for one run only.
    const QString path = write("again.txt", "ann@example.com ann@example.com");
    RecordingSink sink;
    RunExtraction({Local(path)}, sink);
    RunExtraction({Local(path)}, sink);
    QCOMPARE(sink.addresses, (QList<QByteArray>{"ann@example.com", "ann@example.com"}));
}

void ExtractionRunTest::borders_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<QByteArray>>("addresses");

    using L = QList<QByteArray>;
    const QByteArray fill(29999, 'x');  // the next byte is byte 30000, the last of chunk 1
    QTest::newRow("CR LF across the border") << fill + "\r\nbob@example.org" << L{};
    QTest::newRow("CR LF just before the border")
        << fill.left(29998) + "\r\nbob@example.org" << L{"bob@example.org"};
    QTest::newRow("CR LF just after the border")
        << fill + " \r\nbob@example.org" << L{"bob@example.org"};
    QTest::newRow("head accepted")
        << QByteArray(29985, ' ') + "ann@example.community" << L{"ann@example.com"};
    QTest::newRow("neither half accepted")
        << QByteArray(29990, ' ') + "ann@example.community" << L{};
    QTest::newRow("tail accepted")
        << QByteArray(29998, ' ') + "a.ann@example.com" << L{"ann@example.com"};
    QTest::newRow("lone LF joins") << QByteArray("ann@example.com\nbob@example.org") << L{};
    QTest::newRow("CR alone separates") << QByteArray("ann@example.com\rbob@example.org")
                                        << L{"ann@example.com", "bob@example.org"};
    static const char utf16[] =
        "\xFF\xFE"
        "a\0n\0n\0@\0e\0x\0.\0c\0o\0m\0\r\0\n\0";
    QTest::newRow("UTF-16 text") << QByteArray(utf16, sizeof utf16 - 1) << L{};
    QTest::newRow("same in the next chunk")
        << QByteArray(30000, ' ') + "ann@example.com" << L{"ann@example.com"};
}

void ExtractionRunTest::borders() {
    // Guards the independence of chunks: nothing carries over from one to the next.
    QFETCH(QByteArray, content);
    QFETCH(QList<QByteArray>, addresses);
    const QString path = write("border.txt", content);
    RecordingSink sink;
    RunExtraction({Local(path)}, sink);
    QCOMPARE(sink.addresses, addresses);
}

void ExtractionRunTest::yieldPointsAreCountedExactly() {
    // A crafted input: one empty file, one of two full chunks and a short one, one short file.
    // Chunk 1: 3 candidates (2 new), chunk 2: 2 candidates (1 new), chunk 3: 1 candidate (0 new),
    // last file: 2 candidates (1 new).
    QByteArray chunk1 = "a@b.cc x@y.zz a@B.CC ";
    chunk1 += QByteArray(30000 - chunk1.size(), ' ');
    QByteArray chunk2 = "bad@x.y new@d.ee ";
    chunk2 += QByteArray(30000 - chunk2.size(), '\t');
    const QByteArray chunk3 = "X@Y.ZZ @home plain words";
    const QString empty = write("empty.txt", "");
    const QString big = write("big.txt", chunk1 + chunk2 + chunk3);
    const QString small = write("small.txt", "one@two.three a@b.cc");

    RecordingSink sink;
    RunExtraction({Local(empty), Local(big), Local(small)}, sink);
    QCOMPARE(sink.yields[YieldPoint::BeforeFile], 3);
    QCOMPARE(sink.yields[YieldPoint::BeforeFullChunk], 2);
    QCOMPARE(sink.yields[YieldPoint::BeforeCandidate], 3 + 2 + 1 + 2);
    QCOMPARE(sink.yields[YieldPoint::BeforeAppend], 4);
    QCOMPARE(sink.addresses, (QList<QByteArray>{"a@b.cc", "x@y.zz", "new@d.ee", "one@two.three"}));
    // The order within the run: each append yield directly precedes its address, each chunk's
    // candidates come before its "scanned", and an empty file has no chunk at all.
    const QStringList expected = {
        "file",                                                           // empty.txt
        "file",      "full",      "candidate", "candidate", "candidate",  // big.txt, chunk 1
        "scanned",   "append",    "address",   "append",    "address",   "done",    "full",
        "candidate", "candidate", "scanned",   "append",    "address",   "done",    "candidate",
        "scanned",   "done",  // chunk 3, short
        "file",      "candidate", "candidate", "scanned",   "append",    "address", "done",
    };
    QCOMPARE(sink.events, expected);
}

void ExtractionRunTest::fullChunkYieldsOnlyBeforeFullChunks_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("fullChunkYields");

    QTest::newRow("0") << 0 << 0;
    QTest::newRow("29999") << 29999 << 0;
    QTest::newRow("30000") << 30000 << 1;
    QTest::newRow("30001") << 30001 << 1;
    QTest::newRow("59999") << 59999 << 1;
    QTest::newRow("60000") << 60000 << 2;
    QTest::newRow("100000") << 100000 << 3;
}

void ExtractionRunTest::fullChunkYieldsOnlyBeforeFullChunks() {
    QFETCH(int, length);
    QFETCH(int, fullChunkYields);
    const QString path = write("sized.txt", QByteArray(length, 'w'));
    RecordingSink sink;
    RunExtraction({Local(path)}, sink);
    QCOMPARE(sink.yields[YieldPoint::BeforeFullChunk], fullChunkYields);
    QCOMPARE(sink.events.count("scanned"), (length + 29999) / 30000);
}

void ExtractionRunTest::stopEndsTheRunAtOnce_data() {
    QTest::addColumn<int>("point");
    QTest::addColumn<int>("stopAfter");
    QTest::addColumn<int>("addressesBefore");

    // Files: f1 = "a@b.cc c@d.ee" (short), f2 = 30000 bytes with "e@f.gg" then a short chunk
    // with "h@i.jj k@l.mm", f3 = "n@o.pp".
    QTest::newRow("first file") << int(YieldPoint::BeforeFile) << 1 << 0;
    QTest::newRow("second file") << int(YieldPoint::BeforeFile) << 2 << 2;
    QTest::newRow("third file") << int(YieldPoint::BeforeFile) << 3 << 5;
    QTest::newRow("full chunk") << int(YieldPoint::BeforeFullChunk) << 1 << 2;
    QTest::newRow("first candidate") << int(YieldPoint::BeforeCandidate) << 1 << 0;
    QTest::newRow("second candidate") << int(YieldPoint::BeforeCandidate) << 2 << 0;
    QTest::newRow("fourth candidate") << int(YieldPoint::BeforeCandidate) << 4 << 3;
    QTest::newRow("first append") << int(YieldPoint::BeforeAppend) << 1 << 0;
    QTest::newRow("second append") << int(YieldPoint::BeforeAppend) << 2 << 1;
    QTest::newRow("fifth append") << int(YieldPoint::BeforeAppend) << 5 << 4;
}

void ExtractionRunTest::stopEndsTheRunAtOnce() {
    // Guards the window's close during a run: after a "stop" nothing more is read or handed on.
    QFETCH(int, point);
    QFETCH(int, stopAfter);
    QFETCH(int, addressesBefore);
    QByteArray second = "e@f.gg ";
    second += QByteArray(30000 - second.size(), ' ');
    second += "h@i.jj k@l.mm";
    const QString f1 = write("f1.txt", "a@b.cc c@d.ee");
    const QString f2 = write("f2.txt", second);
    const QString f3 = write("f3.txt", "n@o.pp");

    RecordingSink sink;
    sink.stopAt = static_cast<YieldPoint>(point);
    sink.stopAfter = stopAfter;
    const RunResult result = RunExtraction({Local(f1), Local(f2), Local(f3)}, sink);
    QVERIFY(result.stopped);
    QCOMPARE(sink.addresses.size(), addressesBefore);
    QCOMPARE(result.addressesFound, std::size_t(addressesBefore));
    // The refused yield is the very last thing that happened.
    QCOMPARE(sink.events.last(), RecordingSink::Name(static_cast<YieldPoint>(point)));
}

void ExtractionRunTest::unreadablePathsAreReportedAndPassedOver() {
    QTemporaryDir dir;
    const QString first = write("good1.txt", "ann@example.com");
    const QString last = write("good2.txt", "bob@example.org");
    QStringList kinds = {"missing", "folder", "fifo", "device"};
    if (::geteuid() != 0) {
        kinds.append("no permission");
    }
    std::vector<std::string> paths{Local(first)};
    QStringList expected;
    for (const QString& kind : kinds) {
        const QString path = MakeUnreadablePath(dir.path(), kind);
        QVERIFY2(!path.isEmpty(), qPrintable(kind));
        paths.push_back(Local(path));
        expected.append(path);
    }
    paths.push_back(Local(last));

    RecordingSink sink;
    const RunResult result = RunExtraction(paths, sink);
    QCOMPARE(sink.addresses, (QList<QByteArray>{"ann@example.com", "bob@example.org"}));
    QCOMPARE(result.filesRead, std::size_t{2});
    QCOMPARE(sink.skipped.size(), expected.size());
    QCOMPARE(result.skipped.size(), std::size_t(expected.size()));
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QVERIFY2(sink.skipped[i].startsWith(expected[i] + ": "), qPrintable(sink.skipped[i]));
        QVERIFY(sink.skipped[i].size() > expected[i].size() + 2);
        QCOMPARE(QString::fromStdString(result.skipped[std::size_t(i)].path), expected[i]);
    }
}

void ExtractionRunTest::pathsAreFetchedJustBeforeReading() {
    // The window's list may be reordered during a run: each path is asked for only when due.
    const QString a = write("a.txt", "a@a.aa");
    const QString b = write("b.txt", "b@b.bb");
    std::vector<std::string> list{Local(a), Local(a)};
    class SwapSink final : public RunSink {
    public:
        explicit SwapSink(std::vector<std::string>& list, std::string other)
            : list_(list), other_(std::move(other)) {}
        bool yield(YieldPoint point) override {
            if (point == YieldPoint::BeforeFile && ++files_ == 2) {
                list_[1] = other_;
            }
            return true;
        }
        void addressFound(std::string_view address) override { found.emplace_back(address); }
        std::vector<std::string> found;

    private:
        std::vector<std::string>& list_;
        std::string other_;
        int files_ = 0;
    };
    SwapSink sink(list, Local(b));
    RunExtraction(
        list.size(), [&list](std::size_t i) { return list[i]; }, sink);
    QCOMPARE(sink.found, (std::vector<std::string>{"a@a.aa", "b@b.bb"}));
}

void ExtractionRunTest::agreesWithPipelineOverRandomFiles() {
    // The run (reader + fast scanner) against the definition: chunks from ReadFileChunks, each
    // through ExtractEmailsFromText, one set for the whole run.
    QRandomGenerator random(4242);
    std::vector<std::string> paths;
    for (int file = 0; file < 4; ++file) {
        const QByteArray content = AddressText(random, random.bounded(120000));
        paths.push_back(Local(write(QString("random%1.txt").arg(file), content)));
    }
    RecordingSink sink;
    RunExtraction(paths, sink);

    QList<QByteArray> expected;
    SeenEmails seen;
    for (const std::string& path : paths) {
        for (const std::string& chunk : ReadFileChunks(path)) {
            for (std::string_view address : ExtractEmailsFromText(chunk, seen)) {
                expected.append(QByteArray(address.data(), static_cast<qsizetype>(address.size())));
            }
        }
    }
    QVERIFY(expected.size() > 100);
    QCOMPARE(sink.addresses, expected);
}

void ExtractionRunTest::hostileFilesComeThrough_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("addresses");

    QTest::newRow("200000-byte single token") << QByteArray("a.b@c").repeated(40000) << 0;
    QTest::newRow("200000 at signs") << QByteArray(200000, '@') << 0;
    QByteArray binary(300000, '\0');
    QRandomGenerator random(99);
    for (char& c : binary) {
        c = static_cast<char>(random.bounded(256));
    }
    QTest::newRow("random binary") << binary << -1;
}

void ExtractionRunTest::hostileFilesComeThrough() {
    // Guards against crashes and stalls on degenerate files; -1: any count, as the pipeline says.
    QFETCH(QByteArray, content);
    QFETCH(int, addresses);
    const QString path = write("hostile.bin", content);
    RecordingSink sink;
    const RunResult result = RunExtraction({Local(path)}, sink);
    QCOMPARE(result.filesRead, std::size_t{1});
    if (addresses >= 0) {
        QCOMPARE(sink.addresses.size(), addresses);
    }
    SeenEmails seen;
    qsizetype expected = 0;
    for (const std::string& chunk : ReadFileChunks(Local(path))) {
        expected += static_cast<qsizetype>(ExtractEmailsFromText(chunk, seen).size());
    }
    QCOMPARE(sink.addresses.size(), expected);
}

void ExtractionRunTest::addressPast2GiBIsFound() {
    // Guards the 64-bit length through the whole run: a sparse file costs no disk space.
    const QString path = dir_.filePath("sparse.txt");
    const qint64 at = Q_INT64_C(2147483648) + 12345;
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(at + 100));
        QVERIFY(file.seek(at));
        QVERIFY(file.write(" far@away.example ") > 0);
    }
    RecordingSink sink;
    const RunResult result = RunExtraction({Local(path)}, sink);
    QFile::remove(path);
    QCOMPARE(result.filesRead, std::size_t{1});
    QCOMPARE(sink.addresses, QList<QByteArray>{"far@away.example"});
    QCOMPARE(sink.yields[YieldPoint::BeforeFullChunk], int((at + 100) / 30000));
}

QTEST_GUILESS_MAIN(ExtractionRunTest)
#include "tst_extraction_run.moc"
