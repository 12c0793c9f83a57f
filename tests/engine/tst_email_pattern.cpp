// The e-mail pattern: what it accepts and rejects, as RE2 reads it, as ECMAScript reads it and
// as the engine's scanner judges a token alone.
#include "engine/chunk_scanner.h"
#include "tests/support/email_pattern.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QTest>

#include <regex>
#include <string>
#include <string_view>
#include <vector>

using namespace orlenta;

namespace {

std::string_view View(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

// True when the scanner, given the token alone as a chunk, finds it whole. Holds for tokens
// without separators or replaced punctuation, which it would cut.
bool ScannerAccepts(std::string_view token) {
    SeenEmails seen;
    std::vector<std::string_view> found;
    ScanChunkForEmails(token, seen, found);
    return found.size() == 1 && found.front().size() == token.size();
}

// A third opinion: the standard library's ECMAScript engine. Only ever fed short tokens.
bool MatchesEcmaScript(std::string_view token) {
    static const std::regex pattern(std::string(EmailPattern), std::regex::ECMAScript);
    return std::regex_match(token.begin(), token.end(), pattern);
}

// Draws tokens that land near the border between accepted and rejected: mostly built from
// address-like pieces, with mutations and the bytes that matter.
class TokenMaker {
public:
    explicit TokenMaker(quint32 seed) : random_(seed) {}

    std::string next(bool allowBrackets) {
        std::string token;
        switch (random_.bounded(4)) {
            case 0:
                token = randomBytes(1 + random_.bounded(24), allowBrackets);
                break;
            default:
                token = addressLike(allowBrackets);
                break;
        }
        const int mutations = random_.bounded(4);
        for (int i = 0; i < mutations && !token.empty(); ++i) {
            mutate(token, allowBrackets);
        }
        return token;
    }

private:
    char pick(bool allowBrackets) {
        static const std::string plain =
            std::string("aZz09Q_-.-.@@..+ \n\t\r!#%'x", 25) + std::string(1, '\0') + "\xE9\xFF\x80";
        static const std::string brackets = "[]1255.0";
        if (allowBrackets && random_.bounded(6) == 0) {
            return brackets[random_.bounded(static_cast<int>(brackets.size()))];
        }
        return plain[random_.bounded(static_cast<int>(plain.size()))];
    }

    std::string randomBytes(int length, bool allowBrackets) {
        std::string bytes;
        for (int i = 0; i < length; ++i) {
            bytes += pick(allowBrackets);
        }
        return bytes;
    }

    std::string label(int maxLength) {
        static const std::string characters = "abcXYZ019-";
        std::string text;
        const int length = 1 + random_.bounded(maxLength);
        for (int i = 0; i < length; ++i) {
            text += characters[random_.bounded(static_cast<int>(characters.size()))];
        }
        return text;
    }

    std::string addressLike(bool allowBrackets) {
        std::string token = label(6);
        if (random_.bounded(3) == 0) {
            token += "." + label(4);
        }
        token += "@";
        if (allowBrackets && random_.bounded(4) == 0) {
            token += "[" + std::to_string(random_.bounded(300)) + "." +
                     std::to_string(random_.bounded(300)) + "." +
                     std::to_string(random_.bounded(300)) + ".";
        } else {
            const int labels = 1 + random_.bounded(3);
            for (int i = 0; i < labels; ++i) {
                token += label(5) + ".";
            }
        }
        if (allowBrackets && random_.bounded(4) == 0) {
            token += std::to_string(random_.bounded(300)) + "]";
        } else {
            static const std::string letters = "comORGdeXx";
            const int length = 1 + random_.bounded(4);
            for (int i = 0; i < length; ++i) {
                token += letters[random_.bounded(static_cast<int>(letters.size()))];
            }
        }
        return token;
    }

    void mutate(std::string& token, bool allowBrackets) {
        const auto at = static_cast<std::size_t>(random_.bounded(static_cast<int>(token.size())));
        switch (random_.bounded(3)) {
            case 0:
                token[at] = pick(allowBrackets);
                break;
            case 1:
                token.insert(token.begin() + static_cast<std::ptrdiff_t>(at), pick(allowBrackets));
                break;
            default:
                token.erase(at, 1);
                break;
        }
    }

    QRandomGenerator random_;
};

}  // namespace

class EmailPatternTest final : public QObject {
    Q_OBJECT

private slots:
    void patternText();
    void bracketFreeTokens_data();
    void bracketFreeTokens();
    void bracketedDomains_data();
    void bracketedDomains();
    void engineAgreesWithEcmaScriptOnShortTokens();
    void longTokensDoNotBreakEitherValidator_data();
    void longTokensDoNotBreakEitherValidator();
};

void EmailPatternTest::patternText() {
    // Guards against an escaping slip in the C++ literal: the pattern is 190 characters.
    QCOMPARE(EmailPattern.size(), std::size_t{190});
    QVERIFY(EmailPattern.front() == '^');
    QVERIFY(EmailPattern.back() == '$');
}

void EmailPatternTest::bracketFreeTokens_data() {
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("plain") << QByteArray("ann@example.com") << true;
    QTest::newRow("upper case") << QByteArray("ANN@EXAMPLE.COM") << true;
    QTest::newRow("one-letter local part") << QByteArray("a@b.cd") << true;
    QTest::newRow("six-letter last label") << QByteArray("ann@example.museum") << true;
    QTest::newRow("three labels") << QByteArray("ann@mail.dept.example.org") << true;
    QTest::newRow("local part ends with full stop") << QByteArray("ann.@example.com") << true;
    QTest::newRow("local part begins with hyphen") << QByteArray("-ann@example.com") << true;
    QTest::newRow("local part begins with underscore") << QByteArray("_ann@example.com") << true;
    QTest::newRow("two full stops in local part") << QByteArray("a..b@example.com") << true;
    QTest::newRow("labels begin and end with hyphen") << QByteArray("ann@-mail-.ex-.com") << true;
    QTest::newRow("digits in labels") << QByteArray("123@456.789.org") << true;
    QTest::newRow("mixed") << QByteArray("A_b-C.d9@X-1.Example.COM") << true;

    QTest::newRow("one-letter last label") << QByteArray("ann@example.c") << false;
    QTest::newRow("two full stops in domain") << QByteArray("ann@example..com") << false;
    QTest::newRow("domain begins with full stop") << QByteArray("ann@.example.com") << false;
    QTest::newRow("local part begins with full stop") << QByteArray(".ann@example.com") << false;
    QTest::newRow("plus in local part") << QByteArray("ann+tag@example.com") << false;
    QTest::newRow("followed by full stop") << QByteArray("ann@example.com.") << false;
    QTest::newRow("followed by hyphen") << QByteArray("ann@example.com-") << false;
    QTest::newRow("followed by underscore") << QByteArray("ann@example.com_") << false;
    QTest::newRow("no full stop after at sign") << QByteArray("ann@example") << false;
    QTest::newRow("no at sign") << QByteArray("ann.example.com") << false;
    QTest::newRow("empty local part") << QByteArray("@example.com") << false;
    QTest::newRow("two at signs") << QByteArray("ann@bob@example.com") << false;
    QTest::newRow("at sign in last label") << QByteArray("ann@example.c@m") << false;
    QTest::newRow("digit in last label") << QByteArray("ann@example.c0m") << false;
    QTest::newRow("numeric last label") << QByteArray("ann@example.123") << false;
    QTest::newRow("underscore in domain") << QByteArray("ann@ex_ample.com") << false;
    QTest::newRow("trailing line feed") << QByteArray("ann@example.com\n") << false;
    QTest::newRow("leading line feed") << QByteArray("\nann@example.com") << false;
    QTest::newRow("two addresses joined by line feed")
        << QByteArray("ann@example.com\nbob@example.org") << false;
    QTest::newRow("NUL inside") << QByteArray("ann@exam\0ple.com", 16) << false;
    QTest::newRow("UTF-16 code units") << QByteArray("a\0@\0b\0.\0c\0d\0", 12) << false;
    QTest::newRow("Latin-1 letter") << QByteArray("ann@ex\xE4mple.com") << false;
    QTest::newRow("Latin-1 letter in last label") << QByteArray("ann@example.d\xE9") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("at sign alone") << QByteArray("@") << false;
    QTest::newRow("at sign and full stop") << QByteArray("@.") << false;
}

void EmailPatternTest::bracketFreeTokens() {
    QFETCH(QByteArray, token);
    QFETCH(bool, accepted);
    QCOMPARE(IsValidEmail(View(token)), accepted);
    QCOMPARE(ScannerAccepts(View(token)), accepted);
    QCOMPARE(MatchesEcmaScript(View(token)), accepted);
}

void EmailPatternTest::bracketedDomains_data() {
    // The numeric forms only matter to the pattern itself: stripping turns "[" and "]" into
    // spaces before any token is validated, so the scanner never sees them.
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("IP number") << QByteArray("ann@[192.168.0.1]") << true;
    QTest::newRow("zeros") << QByteArray("a@[0.0.0.0]") << true;
    QTest::newRow("255 everywhere") << QByteArray("a@[255.255.255.255]") << true;
    QTest::newRow("256") << QByteArray("a@[256.1.1.1]") << false;
    QTest::newRow("leading zero") << QByteArray("a@[01.2.3.4]") << false;
    QTest::newRow("three numbers") << QByteArray("a@[1.2.3]") << false;
    QTest::newRow("bracket then letters") << QByteArray("a@[1.2.3.com") << true;
    QTest::newRow("labels then number") << QByteArray("a@x.y.255]") << true;
    QTest::newRow("no closing bracket") << QByteArray("a@[1.2.3.4") << false;
}

void EmailPatternTest::bracketedDomains() {
    QFETCH(QByteArray, token);
    QFETCH(bool, accepted);
    QCOMPARE(IsValidEmail(View(token)), accepted);
    QCOMPARE(MatchesEcmaScript(View(token)), accepted);
}

void EmailPatternTest::engineAgreesWithEcmaScriptOnShortTokens() {
    // Guards the choice of engine: RE2 in Latin-1 mode must read the pattern as ECMAScript does.
    TokenMaker maker(777);
    int accepted = 0;
    constexpr int Rounds = 20000;
    for (int i = 0; i < Rounds; ++i) {
        const std::string token = maker.next(true);
        if (token.size() >= 200) {
            continue;
        }
        const bool expected = MatchesEcmaScript(token);
        if (IsValidEmail(token) != expected) {
            QFAIL(qPrintable(QStringLiteral("disagreement on \"%1\" (ECMAScript says %2)")
                                 .arg(QString::fromLatin1(token.data(), qsizetype(token.size())))
                                 .arg(expected)));
        }
        accepted += expected ? 1 : 0;
    }
    QVERIFY2(accepted > Rounds / 20, qPrintable(QString::number(accepted)));
}

void EmailPatternTest::longTokensDoNotBreakEitherValidator_data() {
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<bool>("accepted");

    const QByteArray local(100000, 'a');
    QTest::newRow("long local part") << local + "@example.com" << true;
    QTest::newRow("long domain") << "ann@" + QByteArray("ab.").repeated(66000) + "com" << true;
    QTest::newRow("long last label") << "ann@x." + QByteArray(199990, 'z') << true;
    QTest::newRow("long, cut by a plus") << local + "+@example.com" << false;
    QTest::newRow("at signs and full stops") << QByteArray("@.").repeated(100000) << false;
    QTest::newRow("full stops") << "a@" + QByteArray(199998, '.') << false;
    QTest::newRow("bracketed labels") << "a@" + QByteArray("[1.").repeated(66000) << false;
}

void EmailPatternTest::longTokensDoNotBreakEitherValidator() {
    // Guards against stack overflow or blow-up on a 200000-byte token.
    QFETCH(QByteArray, token);
    QFETCH(bool, accepted);
    QCOMPARE(IsValidEmail(View(token)), accepted);
    if (!token.contains('[')) {
        QCOMPARE(ScannerAccepts(View(token)), accepted);
    }
}

QTEST_GUILESS_MAIN(EmailPatternTest)
#include "tst_email_pattern.moc"
