// The step-by-step pipeline on one chunk: punctuation stripping, cutting into candidates,
// the case-insensitive set of addresses met, and the addresses a chunk yields.
#include "engine/chunk_scanner.h"
#include "engine/seen_emails.h"
#include "tests/support/extract_emails.h"
#include "tests/support/punctuation.h"
#include "tests/support/split_candidates.h"

#include <QByteArray>
#include <QList>
#include <QTest>

#include <string>
#include <string_view>

using namespace orlenta;

namespace {

std::string_view View(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

QList<QByteArray> ToList(const std::vector<std::string_view>& views) {
    QList<QByteArray> list;
    for (std::string_view view : views) {
        list.append(QByteArray(view.data(), static_cast<qsizetype>(view.size())));
    }
    return list;
}

}  // namespace

class TextPipelineTest final : public QObject {
    Q_OBJECT

private slots:
    void stripReplacesExactlyTheTwentySevenCharacters();
    void stripKeepsLengthAndOtherBytes();
    void splitCandidates_data();
    void splitCandidates();
    void chunkAddresses_data();
    void chunkAddresses();
    void seenSetComparesLowerCased();
    void seenSetGrowsWithoutLosingKeys();
    void candidateHookRunsOncePerCandidate();
};

void TextPipelineTest::stripReplacesExactlyTheTwentySevenCharacters() {
    const std::string_view replaced = ",!\"#$%&'()*/:;<=>?[\\]^`{|}~";
    int count = 0;
    for (int c = 0; c < 256; ++c) {
        const bool expected = replaced.find(static_cast<char>(c)) != std::string_view::npos;
        QCOMPARE(IsReplacedPunctuation(static_cast<unsigned char>(c)), expected);
        count += expected ? 1 : 0;
    }
    QCOMPARE(count, 27);
    for (char kept : std::string_view("+-._@")) {
        QVERIFY2(!IsReplacedPunctuation(static_cast<unsigned char>(kept)), &kept);
    }
}

void TextPipelineTest::stripKeepsLengthAndOtherBytes() {
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all += static_cast<char>(c);
    }
    const std::string stripped = StripPunctuation(all);
    QCOMPARE(stripped.size(), all.size());
    for (int c = 0; c < 256; ++c) {
        const char expected = IsReplacedPunctuation(static_cast<unsigned char>(c)) ? ' ' : all[c];
        QCOMPARE(stripped[static_cast<std::size_t>(c)], expected);
    }
}

void TextPipelineTest::splitCandidates_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<QByteArray>>("candidates");

    using L = QList<QByteArray>;
    QTest::newRow("empty") << QByteArray() << L{};
    QTest::newRow("space") << QByteArray("a@b.c d@e.f") << L{"a@b.c", "d@e.f"};
    QTest::newRow("tab") << QByteArray("a@b.c\td@e.f") << L{"a@b.c", "d@e.f"};
    QTest::newRow("CR") << QByteArray("a@b.c\rd@e.f") << L{"a@b.c", "d@e.f"};
    QTest::newRow("CR LF") << QByteArray("a@b.c\r\nd@e.f") << L{"a@b.c", "d@e.f"};
    QTest::newRow("lone LF joins") << QByteArray("a@b.c\nd@e.f") << L{"a@b.c\nd@e.f"};
    QTest::newRow("LF after CR LF stays")
        << QByteArray("a@b.c\r\n\nd@e.f") << L{"a@b.c", "\nd@e.f"};
    QTest::newRow("CR CR LF") << QByteArray("a@b.c\r\r\nd@e.f") << L{"a@b.c", "d@e.f"};
    QTest::newRow("LF CR is two pieces") << QByteArray("a@b.c\n\rd@e.f") << L{"a@b.c\n", "d@e.f"};
    QTest::newRow("runs of separators") << QByteArray("  \t\r\n a@b.c \t ") << L{"a@b.c"};
    QTest::newRow("at sign only") << QByteArray("a@b c.d") << L{};
    QTest::newRow("NUL is ordinary") << QByteArray("a@b\0.c x", 8) << L{QByteArray("a@b\0.c", 6)};
    QTest::newRow("order kept") << QByteArray("z@y.x a@b.c m@n.o") << L{"z@y.x", "a@b.c", "m@n.o"};
}

void TextPipelineTest::splitCandidates() {
    QFETCH(QByteArray, text);
    QFETCH(QList<QByteArray>, candidates);
    QCOMPARE(ToList(SplitCandidates(View(text))), candidates);
}

void TextPipelineTest::chunkAddresses_data() {
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<QList<QByteArray>>("addresses");

    using L = QList<QByteArray>;
    QTest::newRow("parentheses") << QByteArray("(ann@example.com)") << L{"ann@example.com"};
    QTest::newRow("angle brackets") << QByteArray("Ann <ann@example.com>") << L{"ann@example.com"};
    QTest::newRow("double quotes") << QByteArray("\"ann@example.com\"") << L{"ann@example.com"};
    QTest::newRow("mail link") << QByteArray("<a href=\"mailto:ann@example.com\">")
                               << L{"ann@example.com"};
    QTest::newRow("after equals sign") << QByteArray("to=ann@example.com") << L{"ann@example.com"};
    QTest::newRow("then comma, semicolon, exclamation mark")
        << QByteArray("ann@example.com,bob@example.org;cy@example.net!")
        << L{"ann@example.com", "bob@example.org", "cy@example.net"};
    QTest::newRow("end of sentence") << QByteArray("Write to ann@example.com.") << L{};
    QTest::newRow("then hyphen") << QByteArray("ann@example.com-") << L{};
    QTest::newRow("then underscore") << QByteArray("ann@example.com_") << L{};
    QTest::newRow("plus in local part") << QByteArray("ann+news@example.com") << L{};
    QTest::newRow("apostrophe cuts local part")
        << QByteArray("o'brien@example.com") << L{"brien@example.com"};
    QTest::newRow("percent sign cuts local part")
        << QByteArray("ann%bob@example.com") << L{"bob@example.com"};
    QTest::newRow("IP number in brackets") << QByteArray("ann@[192.168.0.1]") << L{};
    QTest::newRow("CR LF between") << QByteArray("ann@example.com\r\nbob@example.org")
                                   << L{"ann@example.com", "bob@example.org"};
    QTest::newRow("CR between") << QByteArray("ann@example.com\rbob@example.org")
                                << L{"ann@example.com", "bob@example.org"};
    QTest::newRow("lone LF between") << QByteArray("ann@example.com\nbob@example.org") << L{};
    QTest::newRow("duplicate, other case")
        << QByteArray("Ann@Example.com ann@EXAMPLE.COM") << L{"Ann@Example.com"};
    QTest::newRow("at sign without full stop") << QByteArray("@home ann@example") << L{};
    QTest::newRow("UTF-16") << QByteArray("a\0n\0n\0@\0e\0x\0.\0c\0o\0m\0 \0", 22) << L{};
    QTest::newRow("high bytes around") << QByteArray(
                                              "\xA0"
                                              "ann@example.com\xA0")
                                       << L{};
    QTest::newRow("high bytes apart")
        << QByteArray("\xE9t\xE9 ann@example.com \xFF") << L{"ann@example.com"};
    QTest::newRow("NUL apart") << QByteArray("\0 ann@example.com \0", 19) << L{"ann@example.com"};
    QTest::newRow("every replaced character cuts")
        << QByteArray(
               ",a@b.cc!a@b.cd\"a@b.ce#a@b.cf$a@b.cg%a@b.ch&a@b.ci'a@b.cj(a@b.ck)a@b.cl*"
               "a@b.cm/a@b.cn:a@b.co;a@b.cp<a@b.cq=a@b.cr>a@b.cs?a@b.ct[a@b.cu\\a@b.cv]"
               "a@b.cw^a@b.cx`a@b.cy{a@b.cz|a@b.da}a@b.db~")
        << L{"a@b.cc", "a@b.cd", "a@b.ce", "a@b.cf", "a@b.cg", "a@b.ch", "a@b.ci",
             "a@b.cj", "a@b.ck", "a@b.cl", "a@b.cm", "a@b.cn", "a@b.co", "a@b.cp",
             "a@b.cq", "a@b.cr", "a@b.cs", "a@b.ct", "a@b.cu", "a@b.cv", "a@b.cw",
             "a@b.cx", "a@b.cy", "a@b.cz", "a@b.da", "a@b.db"};
    QTest::newRow("kept characters do not cut")
        << QByteArray("x+a@b.cc x-a@b.cc x_a@b.cc") << L{"x-a@b.cc", "x_a@b.cc"};
}

void TextPipelineTest::chunkAddresses() {
    QFETCH(QByteArray, chunk);
    QFETCH(QList<QByteArray>, addresses);
    {
        SeenEmails seen;
        QCOMPARE(ToList(ExtractEmailsFromText(View(chunk), seen)), addresses);
        QCOMPARE(seen.size(), static_cast<std::size_t>(addresses.size()));
    }
    {
        SeenEmails seen;
        std::vector<std::string_view> found;
        ScanChunkForEmails(View(chunk), seen, found);
        QCOMPARE(ToList(found), addresses);
        QCOMPARE(seen.size(), static_cast<std::size_t>(addresses.size()));
    }
}

void TextPipelineTest::seenSetComparesLowerCased() {
    SeenEmails seen;
    QVERIFY(seen.InsertLowerCased("Ann@Example.COM"));
    QVERIFY(!seen.InsertLowerCased("ann@example.com"));
    QVERIFY(!seen.InsertLowerCased("ANN@EXAMPLE.COM"));
    QVERIFY(seen.InsertLowerCased("ann@example.co"));
    // Only "A"-"Z" fold: bytes above 127 and the characters next to the letters stay apart.
    QVERIFY(seen.InsertLowerCased("\xC0@x.yy"));
    QVERIFY(seen.InsertLowerCased("\xE0@x.yy"));
    QVERIFY(seen.InsertLowerCased("@@x.yy"));
    QVERIFY(seen.InsertLowerCased("`@x.yy"));
    QVERIFY(seen.InsertLowerCased("[@x.yy"));
    QVERIFY(seen.InsertLowerCased("{@x.yy"));
    QVERIFY(!seen.InsertLowerCased("\xC0@X.YY"));
    QVERIFY(seen.InsertLowerCased(std::string_view("a\0b", 3)));
    QVERIFY(seen.InsertLowerCased(std::string_view("a\0c", 3)));
    QVERIFY(seen.InsertLowerCased(""));
    QVERIFY(!seen.InsertLowerCased(""));
    QCOMPARE(seen.size(), std::size_t{11});
}

void TextPipelineTest::seenSetGrowsWithoutLosingKeys() {
    // Guards the table's growth and the word-wise lower-casing at every length up to 40.
    SeenEmails seen;
    constexpr int Count = 200000;
    auto address = [](int i, bool upper) {
        std::string text =
            "user" + std::to_string(i) + "@Host" + std::to_string(i % 97) + ".example";
        text.resize(static_cast<std::size_t>(8 + i % 33), 'q');
        text += std::to_string(i);
        if (upper) {
            for (char& c : text) {
                c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
            }
        }
        return text;
    };
    for (int i = 0; i < Count; ++i) {
        QVERIFY(seen.InsertLowerCased(address(i, i % 2 == 0)));
    }
    QCOMPARE(seen.size(), std::size_t{Count});
    for (int i = 0; i < Count; ++i) {
        QVERIFY(!seen.InsertLowerCased(address(i, i % 2 != 0)));
    }
    QCOMPARE(seen.size(), std::size_t{Count});
}

void TextPipelineTest::candidateHookRunsOncePerCandidate() {
    // Candidates are tokens with "@" and "."; valid or not, each is announced once.
    const QByteArray chunk("a@b.cc a@b.cc x@y z.w a+b@c.dd @. q@r.s\nt@u.vv");
    for (int pass = 0; pass < 2; ++pass) {
        SeenEmails seen;
        int calls = 0;
        const CandidateHook count = [&calls] { ++calls; };
        std::vector<std::string_view> found;
        if (pass == 0) {
            found = ExtractEmailsFromText(View(chunk), seen, count);
        } else {
            ScanChunkForEmails(View(chunk), seen, found, count);
        }
        QCOMPARE(calls, 5);
        QCOMPARE(ToList(found), QList<QByteArray>{"a@b.cc"});
    }
}

QTEST_GUILESS_MAIN(TextPipelineTest)
#include "tst_text_pipeline.moc"
