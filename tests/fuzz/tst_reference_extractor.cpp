// The slow reference that the fuzzer trusts, checked on hand-worked cases: if it were wrong,
// the fuzzer would hold the engine to the wrong answers.
#include "fuzz/reference_extractor.h"
#include "tests/support/email_pattern.h"

#include <QByteArray>
#include <QList>
#include <QTest>

#include <string>
#include <vector>

using namespace orlenta;

namespace {

std::string Bytes(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

QList<QByteArray> ToList(const std::vector<std::string>& strings) {
    QList<QByteArray> list;
    for (const std::string& s : strings) {
        list.append(QByteArray(s.data(), static_cast<qsizetype>(s.size())));
    }
    return list;
}

}  // namespace

class ReferenceExtractorTest final : public QObject {
    Q_OBJECT

private slots:
    void patternIsTheEnginesPattern();
    void punctuationIsExactlyTwentySevenCharacters();
    void chunkLengths_data();
    void chunkLengths();
    void addresses_data();
    void addresses();
    void patternAnswersAlikeEitherSideOfTheRegexSwitch_data();
    void patternAnswersAlikeEitherSideOfTheRegexSwitch();
};

// Two transcriptions of the same 190 characters: a slip in either would show here.
void ReferenceExtractorTest::patternIsTheEnginesPattern() {
    QCOMPARE(reference::EmailPattern.size(), std::size_t(190));
    QVERIFY(reference::EmailPattern == orlenta::EmailPattern);
}

void ReferenceExtractorTest::punctuationIsExactlyTwentySevenCharacters() {
    const std::string kept = "+-.@_";
    int replaced = 0;
    for (int c = 0; c < 256; ++c) {
        const std::string one(1, static_cast<char>(c));
        const bool isPunctuation = c > 0x20 && c < 0x7F && !std::isalnum(c);
        const bool expected = isPunctuation && kept.find(one) == std::string::npos;
        QCOMPARE(reference::ReplacePunctuation(one) == " " && one != " ", expected);
        replaced += expected ? 1 : 0;
    }
    QCOMPARE(replaced, 27);
}

void ReferenceExtractorTest::chunkLengths_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<QList<int>>("chunks");
    QTest::newRow("empty") << 0 << QList<int>{};
    QTest::newRow("one byte") << 1 << QList<int>{1};
    QTest::newRow("29999") << 29999 << QList<int>{29999};
    QTest::newRow("30000") << 30000 << QList<int>{30000};
    QTest::newRow("30001") << 30001 << QList<int>{30000, 1};
    QTest::newRow("45000") << 45000 << QList<int>{30000, 15000};
    QTest::newRow("60000") << 60000 << QList<int>{30000, 30000};
    QTest::newRow("100000") << 100000 << QList<int>{30000, 30000, 30000, 10000};
}

void ReferenceExtractorTest::chunkLengths() {
    QFETCH(int, length);
    QFETCH(QList<int>, chunks);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7);
    }
    QList<int> sizes;
    std::string joined;
    for (const std::string& chunk : reference::CutIntoChunks(bytes, 30000)) {
        sizes.append(static_cast<int>(chunk.size()));
        joined += chunk;
    }
    QCOMPARE(sizes, chunks);
    QVERIFY(joined == bytes);
}

void ReferenceExtractorTest::addresses_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("chunkSize");
    QTest::addColumn<QList<QByteArray>>("expected");
    using L = QList<QByteArray>;
    const int whole = 30000;
    QTest::newRow("parentheses") << QByteArray("(ann@x.org)") << whole << L{"ann@x.org"};
    QTest::newRow("mail link") << QByteArray("<a href=\"mailto:ann@x.org\">") << whole
                               << L{"ann@x.org"};
    QTest::newRow("after equals") << QByteArray("to=ann@x.org") << whole << L{"ann@x.org"};
    QTest::newRow("comma semicolon bang") << QByteArray("ann@x.org, bob@y.org; cy@z.org!") << whole
                                          << L{"ann@x.org", "bob@y.org", "cy@z.org"};
    QTest::newRow("full stop after") << QByteArray("ann@x.org.") << whole << L{};
    QTest::newRow("dash after") << QByteArray("ann@x.org-") << whole << L{};
    QTest::newRow("underscore after") << QByteArray("ann@x.org_") << whole << L{};
    QTest::newRow("plus in local part") << QByteArray("ann+news@x.org") << whole << L{};
    QTest::newRow("apostrophe cuts") << QByteArray("o'neil@x.org") << whole << L{"neil@x.org"};
    QTest::newRow("percent cuts") << QByteArray("a%b@x.org") << whole << L{"b@x.org"};
    QTest::newRow("IP in brackets") << QByteArray("ann@[10.0.0.1]") << whole << L{};
    QTest::newRow("one-letter end") << QByteArray("a@b.c") << whole << L{};
    QTest::newRow("six-letter end") << QByteArray("a@b.museum") << whole << L{"a@b.museum"};
    QTest::newRow("three labels") << QByteArray("a@b.c.de") << whole << L{"a@b.c.de"};
    QTest::newRow("two full stops") << QByteArray("a@b..de") << whole << L{};
    QTest::newRow("no full stop") << QByteArray("a@bde") << whole << L{};
    QTest::newRow("local starts with dot") << QByteArray(".a@b.de") << whole << L{};
    QTest::newRow("local ends with dot") << QByteArray("a.@b.de") << whole << L{"a.@b.de"};
    QTest::newRow("local starts with dash") << QByteArray("-a@b.de") << whole << L{"-a@b.de"};
    QTest::newRow("labels with dashes") << QByteArray("a@-b-.de") << whole << L{"a@-b-.de"};
    QTest::newRow("CR LF") << QByteArray("a@b.de\r\nc@d.de") << whole << L{"a@b.de", "c@d.de"};
    QTest::newRow("CR") << QByteArray("a@b.de\rc@d.de") << whole << L{"a@b.de", "c@d.de"};
    QTest::newRow("tab") << QByteArray("a@b.de\tc@d.de") << whole << L{"a@b.de", "c@d.de"};
    QTest::newRow("lone LF") << QByteArray("a@b.de\nc@d.de") << whole << L{};
    QTest::newRow("LF CR") << QByteArray("a@b.de\n\rc@d.de") << whole << L{"c@d.de"};
    QTest::newRow("first spelling kept")
        << QByteArray("Ann@X.org ann@x.ORG bob@y.org") << whole << L{"Ann@X.org", "bob@y.org"};
    QTest::newRow("UTF-16") << QByteArray("a\0@\0b\0.\0d\0e\0", 12) << whole << L{};
    QTest::newRow("NUL inside") << QByteArray("a\0b@x.org", 9) << whole << L{};
    QTest::newRow("NUL before space") << QByteArray("a\0 b@x.org", 10) << whole << L{"b@x.org"};
    QTest::newRow("high byte inside") << QByteArray(
                                             "\xE9"
                                             "ann@x.org")
                                      << whole << L{};
    QTest::newRow("high byte apart") << QByteArray("\xE9 ann@x.org") << whole << L{"ann@x.org"};
    QTest::newRow("head before border") << QByteArray("ann@x.org") << 8 << L{"ann@x.or"};
    QTest::newRow("cut too short") << QByteArray("ann@x.org") << 7 << L{};
    QTest::newRow("CR LF across border") << QByteArray("a@b.de\r\nc@d.de") << 7 << L{"a@b.de"};
    QTest::newRow("met in an earlier chunk")
        << QByteArray("ann@x.org ANN@X.ORG") << 10 << L{"ann@x.org"};
}

void ReferenceExtractorTest::addresses() {
    QFETCH(QByteArray, text);
    QFETCH(int, chunkSize);
    QFETCH(QList<QByteArray>, expected);
    QCOMPARE(ToList(reference::ExtractAll(Bytes(text), static_cast<std::size_t>(chunkSize))),
             expected);
}

// Tokens of 199 characters go to std::regex, of 200 to RE2: both must read the pattern alike.
void ReferenceExtractorTest::patternAnswersAlikeEitherSideOfTheRegexSwitch_data() {
    QTest::addColumn<QByteArray>("shape");
    QTest::addColumn<bool>("valid");
    QTest::newRow("long local part") << QByteArray("@x.org") << true;
    QTest::newRow("ends in a digit") << QByteArray("@x.or9") << false;
    QTest::newRow("one-letter end") << QByteArray("@x.o") << false;
    QTest::newRow("LF at the end") << QByteArray("@x.org\n") << false;
    QTest::newRow("bracketed IP") << QByteArray("@[1.2.3.255]") << true;
    QTest::newRow("IP with leading zero") << QByteArray("@[1.2.3.01]") << false;
}

void ReferenceExtractorTest::patternAnswersAlikeEitherSideOfTheRegexSwitch() {
    QFETCH(QByteArray, shape);
    QFETCH(bool, valid);
    for (std::size_t length : {198, 199, 200, 201, 1000}) {
        const std::string suffix = Bytes(shape);
        const std::string token = std::string(length - suffix.size(), 'a') + suffix;
        QCOMPARE(token.size(), length);
        QVERIFY2(reference::MatchesEmailPattern(token) == valid, token.c_str());
    }
}

QTEST_GUILESS_MAIN(ReferenceExtractorTest)
#include "tst_reference_extractor.moc"
