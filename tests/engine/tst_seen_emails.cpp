#include "engine/seen_emails.h"

#include <QTest>

#include <memory>
#include <string>
#include <vector>

using namespace orlenta;

class SeenEmailsTest final : public QObject {
    Q_OBJECT

private slots:
    void keysLongerThanABlock_data();
    void keysLongerThanABlock();
    void growingKeepsEveryKey_data();
    void growingKeepsEveryKey();
};

void SeenEmailsTest::keysLongerThanABlock_data() {
    QTest::addColumn<int>("length");
    // Keys live in 2 MiB blocks; these lengths end inside, exactly at and beyond one block.
    QTest::newRow("short") << 20;
    QTest::newRow("just under a block") << (2 << 20) - 40;
    QTest::newRow("one block") << (2 << 20) - 12;
    QTest::newRow("three blocks") << (5 << 20);
}

// Guards the place of a key that needs several blocks, and of the keys stored after it.
void SeenEmailsTest::keysLongerThanABlock() {
    QFETCH(int, length);
    const std::string longKey = std::string(static_cast<std::size_t>(length), 'x') + "@a.com";
    std::string upper = longKey;
    for (char& c : upper) {
        c = static_cast<char>(c == 'x' ? 'X' : c);
    }
    SeenEmails seen;
    QVERIFY(seen.InsertLowerCased("before@a.com"));
    QVERIFY(seen.InsertLowerCased(longKey));
    QVERIFY(seen.InsertLowerCased("after@a.com"));
    QVERIFY(!seen.InsertLowerCased(upper));
    QVERIFY(!seen.InsertLowerCased("BEFORE@a.com"));
    QVERIFY(!seen.InsertLowerCased("After@A.com"));
    QVERIFY(seen.InsertLowerCased(longKey.substr(1)));
    QCOMPARE(seen.size(), std::size_t{4});
}

void SeenEmailsTest::growingKeepsEveryKey_data() {
    QTest::addColumn<int>("blocksPerArena");
    QTest::addColumn<bool>("clearedFirst");  // filled with other keys, then cleared
    QTest::newRow("one arena") << 512 << false;
    // Guards the keys stored past a full shared arena (once 2 GiB, the 4 GiB abort of old):
    // spread over arenas by their tag, found again by it.
    QTest::newRow("arenas of one block") << 1 << false;
    // Guards a set emptied for reuse: old keys gone, its kept blocks and table reused and
    // counted in the peak a budget is checked against.
    QTest::newRow("one arena, cleared") << 512 << true;
    QTest::newRow("arenas of one block, cleared") << 1 << true;
}

// Guards the growth of the table: every key is still found after it has doubled many times.
void SeenEmailsTest::growingKeepsEveryKey() {
    QFETCH(int, blocksPerArena);
    QFETCH(bool, clearedFirst);
    constexpr int Count = 300000;
    SeenEmails seen(static_cast<std::size_t>(blocksPerArena));
    if (clearedFirst) {
        for (int i = 0; i < Count; ++i) {
            seen.InsertLowerCased("old" + std::to_string(i) + "@example.com");
        }
        const std::size_t held = seen.memoryUsed();
        seen.clear();
        QCOMPARE(seen.size(), std::size_t{0});
        QVERIFY(seen.memoryUsed() <= held);
        QVERIFY(!seen.ContainsLowerCased("old7@example.com", HashLowerCased("old7@example.com")));
    }
    for (int i = 0; i < Count; ++i) {
        const std::string key = "user" + std::to_string(i) + "@example.com";
        // A budget is checked against this before the set takes more: it must not fall short.
        const std::size_t peak = seen.memoryPeakAfter(1, key.size());
        QVERIFY(seen.InsertLowerCased(key));
        QVERIFY(seen.memoryUsed() <= peak);
        QVERIFY(seen.ContainsLowerCased("USER" + key.substr(4), HashLowerCased(key)));
    }
    std::vector<std::string> again;
    for (int i = 0; i < Count; ++i) {
        again.push_back("USER" + std::to_string(i) + "@EXAMPLE.COM");
    }
    std::vector<std::string_view> views(again.begin(), again.end());
    std::unique_ptr<bool[]> isNew(new bool[views.size()]);
    seen.InsertLowerCased(views.data(), views.size(), isNew.get());
    for (int i = 0; i < Count; ++i) {
        QVERIFY2(!isNew[static_cast<std::size_t>(i)], again[static_cast<std::size_t>(i)].c_str());
    }
    QCOMPARE(seen.size(), std::size_t{Count});
}

QTEST_GUILESS_MAIN(SeenEmailsTest)
#include "tst_seen_emails.moc"
