// The fast "@"-to-"@" scanner held equal to the step-by-step pipeline, and hostile chunks.
#include "engine/chunk_scanner.h"
#include "engine/seen_emails.h"
#include "tests/support/extract_emails.h"

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using namespace orlenta;

namespace {

QList<QByteArray> ToList(const std::vector<std::string_view>& views) {
    QList<QByteArray> list;
    for (std::string_view view : views) {
        list.append(QByteArray(view.data(), static_cast<qsizetype>(view.size())));
    }
    return list;
}

// Builds chunks out of the pieces that decide where tokens begin and end and whether they pass.
class ChunkMaker {
public:
    explicit ChunkMaker(quint32 seed) : random_(seed) {}

    std::string next(std::size_t maxSize) {
        std::string chunk;
        const std::size_t target =
            1 + static_cast<std::size_t>(random_.bounded(static_cast<int>(maxSize)));
        while (chunk.size() < target) {
            chunk += piece();
        }
        chunk.resize(target);
        return chunk;
    }

private:
    std::string piece() {
        static const std::vector<std::string> addresses = {
            "ann@example.com",
            "Ann@Example.COM",
            "b.o-b_@mail.example.org",
            "x@y.zz",
            "-lead@dash-.net",
            "ANN@EXAMPLE.com",
            "q@r.s",
            "c@d..ee",
            ".dot@start.com",
            "o@p.qq.",
            "t@u.v1",
            "a@b@c.dd",
            "@.",
            "@",
            ".",
            "mail@host",
            "x@.yy.zz",
            "Q@W.E_R.TT",
            "m@n.o9p.qq",
            "9@8.7.xx",
            "a.@b-.c-.dd",
            "_@_.zz",
            "u@v.w.x.yy",
            "@x.yy",
        };
        static const std::vector<std::string> separators = {" ",    "\t",   "\r",     "\n",
                                                            "\r\n", "\n\r", "\r\r\n", "  "};
        static const std::string punctuation = ",!\"#$%&'()*/:;<=>?[\\]^`{|}~+-._@";
        switch (random_.bounded(6)) {
            case 0:
            case 1:
                return addresses[random_.bounded(static_cast<int>(addresses.size()))];
            case 2:
                return separators[random_.bounded(static_cast<int>(separators.size()))];
            case 3:
                return std::string(
                    1, punctuation[random_.bounded(static_cast<int>(punctuation.size()))]);
            case 4: {
                static const std::string odd("\0\x80\xE9\xFF", 4);
                return std::string(1, odd[random_.bounded(4)]);
            }
            default: {
                static const std::string word = "lorem.ipsum-Dolor_sit9";
                const int from = random_.bounded(static_cast<int>(word.size()));
                return word.substr(static_cast<std::size_t>(from),
                                   static_cast<std::size_t>(1 + random_.bounded(6)));
            }
        }
    }

    QRandomGenerator random_;
};

}  // namespace

class ChunkScannerTest final : public QObject {
    Q_OBJECT

private slots:
    void agreesWithPipelineOnRandomChunks_data();
    void agreesWithPipelineOnRandomChunks();
    void gateStopsTheScanAtOnce();
    void lineEnds_data();
    void lineEnds();
    void hostileChunks_data();
    void hostileChunks();
};

void ChunkScannerTest::agreesWithPipelineOnRandomChunks_data() {
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("maxSize");
    QTest::addColumn<int>("chunks");
    QTest::addColumn<bool>("loneLfEnds");

    QTest::newRow("short chunks") << 1u << 200 << 40000 << false;
    QTest::newRow("medium chunks") << 2u << 3000 << 3000 << false;
    QTest::newRow("full chunks") << 3u << 30000 << 200 << false;
    QTest::newRow("short chunks, lone LF ends tokens") << 4u << 200 << 40000 << true;
    QTest::newRow("full chunks, lone LF ends tokens") << 5u << 30000 << 200 << true;
}

void ChunkScannerTest::agreesWithPipelineOnRandomChunks() {
    // Guards the fast scanner's widening and shortcuts against any drift from the definition.
    QFETCH(quint32, seed);
    QFETCH(int, maxSize);
    QFETCH(int, chunks);
    QFETCH(bool, loneLfEnds);
    ChunkMaker maker(seed);
    // One set per side across 50 chunks, as in a run, so duplicates between chunks count; then
    // fresh ones, so new addresses keep coming.
    auto referenceSeen = std::make_unique<SeenEmails>();
    auto fastSeen = std::make_unique<SeenEmails>();
    std::vector<std::string_view> fastFound;
    int totalFound = 0;
    for (int i = 0; i < chunks; ++i) {
        if (i % 50 == 0) {
            referenceSeen = std::make_unique<SeenEmails>();
            fastSeen = std::make_unique<SeenEmails>();
        }
        const std::string chunk = maker.next(static_cast<std::size_t>(maxSize));
        // A lone LF that ends tokens acts as a space would; the reference sees it as one.
        std::string referenceChunk = chunk;
        if (loneLfEnds) {
            std::replace(referenceChunk.begin(), referenceChunk.end(), '\n', ' ');
        }
        int referenceCalls = 0;
        int fastCalls = 0;
        const auto reference = ExtractEmailsFromText(referenceChunk, *referenceSeen,
                                                     [&referenceCalls] { ++referenceCalls; });
        ScanChunkForEmails(
            chunk, *fastSeen, fastFound, [&fastCalls] { ++fastCalls; },
            loneLfEnds ? LoneLf::EndsToken : LoneLf::Ordinary);
        if (ToList(reference) != ToList(fastFound) || referenceCalls != fastCalls) {
            QFAIL(qPrintable(
                QStringLiteral("chunk %1 differs: \"%2\"")
                    .arg(i)
                    .arg(QString::fromLatin1(
                        QByteArray(chunk.data(), qsizetype(chunk.size())).toPercentEncoding()))));
        }
        // Views point into the chunk itself.
        for (std::string_view address : fastFound) {
            QVERIFY(address.data() >= chunk.data() &&
                    address.data() + address.size() <= chunk.data() + chunk.size());
        }
        QCOMPARE(fastSeen->size(), referenceSeen->size());
        totalFound += static_cast<int>(reference.size());
    }
    // Enough addresses accepted that the comparison means something.
    QVERIFY2(totalFound > chunks / 10, qPrintable(QString::number(totalFound)));
    // Both sets hold the same keys: every probe answers alike.
    for (std::string_view probe :
         {"ann@example.com", "x@y.zz", "b.o-b_@mail.example.org", "q@r.s", "nobody@example.com"}) {
        QCOMPARE(fastSeen->InsertLowerCased(probe), referenceSeen->InsertLowerCased(probe));
    }
}

void ChunkScannerTest::gateStopsTheScanAtOnce() {
    class StopAt final : public CandidateGate {
    public:
        explicit StopAt(int allowed) : allowed_(allowed) {}
        bool mayGoOn() override { return asked_++ < allowed_; }
        int asked_ = 0;

    private:
        int allowed_;
    };
    const std::string chunk = "a@b.cc d@e.ff g@h.ii j@k.ll";
    SeenEmails seen;
    std::vector<std::string_view> found;
    StopAt gate(2);
    QVERIFY(!ScanChunkForEmails(chunk, seen, found, gate));
    QCOMPARE(gate.asked_, 3);
    QCOMPARE(ToList(found), (QList<QByteArray>{"a@b.cc", "d@e.ff"}));
    QCOMPARE(seen.size(), std::size_t{2});
    StopAt never(100);
    QVERIFY(ScanChunkForEmails(chunk, seen, found, never));
    QCOMPARE(never.asked_, 4);
}

void ChunkScannerTest::lineEnds_data() {
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<QList<QByteArray>>("byDefault");
    QTest::addColumn<QList<QByteArray>>("withLoneLf");

    using L = QList<QByteArray>;
    const L both{"ann@example.com", "bob@example.org"};
    QTest::newRow("CR LF") << QByteArray("ann@example.com\r\nbob@example.org\r\n") << both << both;
    QTest::newRow("CR") << QByteArray("ann@example.com\rbob@example.org\r") << both << both;
    QTest::newRow("lone LF") << QByteArray("ann@example.com\nbob@example.org\n") << L{} << both;
    QTest::newRow("LF CR") << QByteArray("ann@example.com\n\rbob@example.org")
                           << L{"bob@example.org"} << both;
    QTest::newRow("CR LF LF") << QByteArray("ann@example.com\r\n\nbob@example.org")
                              << L{"ann@example.com"} << both;
    QTest::newRow("LF inside a domain") << QByteArray("x ann@exam\nple.com y") << L{} << L{};
    QTest::newRow("LF before the at sign") << QByteArray("ann\n@example.com") << L{} << L{};
    QTest::newRow("LF as the chunk's first byte")
        << QByteArray("\nann@example.com") << L{} << L{"ann@example.com"};
}

void ChunkScannerTest::lineEnds() {
    // Guards --lf: lone LFs end tokens only when asked, and the default stays as the window's.
    QFETCH(QByteArray, chunk);
    QFETCH(QList<QByteArray>, byDefault);
    QFETCH(QList<QByteArray>, withLoneLf);
    const std::string_view text(chunk.constData(), static_cast<std::size_t>(chunk.size()));
    std::vector<std::string_view> found;
    {
        SeenEmails seen;
        QCOMPARE(ToList(ExtractEmailsFromText(text, seen)), byDefault);
    }
    {
        SeenEmails seen;
        ScanChunkForEmails(text, seen, found);
        QCOMPARE(ToList(found), byDefault);
    }
    {
        SeenEmails seen;
        ScanChunkForEmails(text, seen, found, LoneLf::EndsToken);
        QCOMPARE(ToList(found), withLoneLf);
    }
}

void ChunkScannerTest::hostileChunks_data() {
    QTest::addColumn<QByteArray>("chunk");

    QTest::newRow("one 200000-byte address") << QByteArray(199980, 'a') + "@example.com";
    QTest::newRow("one 200000-byte token") << QByteArray("a.b@").repeated(50000);
    QTest::newRow("at signs only") << QByteArray(200000, '@');
    QTest::newRow("at sign, full stop") << QByteArray("@.").repeated(100000);
    QTest::newRow("at signs and spaces") << QByteArray("@ ").repeated(100000);
    QTest::newRow("lone LFs") << QByteArray("a@b.cc\n").repeated(30000);
    QTest::newRow("NULs") << QByteArray(200000, '\0');
    QTest::newRow("empty") << QByteArray();
}

void ChunkScannerTest::hostileChunks() {
    // Guards against crashes, quadratic time or disagreement on degenerate input.
    QFETCH(QByteArray, chunk);
    const std::string_view text(chunk.constData(), static_cast<std::size_t>(chunk.size()));
    SeenEmails referenceSeen;
    SeenEmails fastSeen;
    std::vector<std::string_view> found;
    const auto reference = ExtractEmailsFromText(text, referenceSeen);
    ScanChunkForEmails(text, fastSeen, found);
    QCOMPARE(ToList(found), ToList(reference));
}

QTEST_GUILESS_MAIN(ChunkScannerTest)
#include "tst_chunk_scanner.moc"
