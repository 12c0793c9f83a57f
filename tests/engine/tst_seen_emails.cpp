#include "engine/bounded_first_spellings.h"
#include "engine/seen_emails.h"

#include <QRandomGenerator>
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
    void boundedFirstSpellings_data();
    void boundedFirstSpellings();
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
    QTest::newRow("one arena") << 512;
    // Guards the keys stored past a full shared arena (once 2 GiB, the 4 GiB abort of old):
    // spread over arenas by their tag, found again by it.
    QTest::newRow("arenas of one block") << 1;
}

// Guards the growth of the table: every key is still found after it has doubled many times.
void SeenEmailsTest::growingKeepsEveryKey() {
    QFETCH(int, blocksPerArena);
    constexpr int Count = 300000;
    SeenEmails seen(static_cast<std::size_t>(blocksPerArena));
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

void SeenEmailsTest::boundedFirstSpellings_data() {
    QTest::addColumn<int>("budgetKiB");  // 0: none
    QTest::addColumn<int>("blockSize");  // of the spill; 0: its own choice
    QTest::newRow("within the budget") << 0 << 0;
    // Past the budget: the rest goes through the spill and comes out in order at finish().
    QTest::newRow("spilled") << 150 << 0;
    // Records, a 3000-byte address among them, cut across blocks; partitions split again.
    QTest::newRow("small blocks, split again") << 60 << 64;
}

// Guards the de-duplicator that --merge uses: first spellings, in order, for every budget.
void SeenEmailsTest::boundedFirstSpellings() {
    QFETCH(int, budgetKiB);
    QFETCH(int, blockSize);
    QRandomGenerator random(3);
    std::vector<std::string> addresses;
    for (int i = 0; i < 60000; ++i) {
        std::string address = "a" + std::to_string(random.bounded(20000)) + "@Example.com";
        if (random.bounded(2) == 0) {
            address[0] = 'A';
        }
        addresses.push_back(i == 30000 ? std::string(3000, 'l') + "@long.org" : address);
    }
    std::vector<std::string> expected;
    SeenEmails seen;
    for (const std::string& address : addresses) {
        if (seen.InsertLowerCased(address)) {
            expected.push_back(address);
        }
    }
    MemoryBudget budget;
    MemoryBudget::Report report;
    if (budgetKiB > 0) {
        budget.bytes = static_cast<std::size_t>(budgetKiB) << 10;
        budget.blockSize = static_cast<std::size_t>(blockSize);
        budget.partitions = 4;
        budget.report = &report;
    }
    std::vector<std::string> got;
    BoundedFirstSpellings firsts(budget,
                                 [&got](std::string_view address) { got.emplace_back(address); });
    for (const std::string& address : addresses) {
        firsts.add(address);
    }
    firsts.finish();
    QCOMPARE(got.size(), expected.size());
    QVERIFY(got == expected);
    QCOMPARE(firsts.emitted(), expected.size());
    QCOMPARE(report.frozen, budgetKiB > 0);
    QVERIFY(blockSize == 0 || report.deepestLevel >= 2);
}

QTEST_GUILESS_MAIN(SeenEmailsTest)
#include "tst_seen_emails.moc"
