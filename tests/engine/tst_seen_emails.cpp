#include "engine/seen_emails.h"

#include <QTest>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using namespace orlenta;

namespace {

std::string UpperCased(std::string text) {
    for (char& c : text) {
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return text;
}

}  // namespace

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
    QTest::addColumn<bool>("counted");
    QTest::addColumn<bool>("clearedFirst");    // filled with other keys, then cleared
    QTest::addColumn<quint64>("laterSource");  // where every address is met again
    QTest::newRow("one arena") << 512 << false << false << quint64{2};
    // Guards the keys stored past a full shared arena (once 2 GiB, the 4 GiB abort of old):
    // spread over arenas by their tag, found again by it.
    QTest::newRow("arenas of one block") << 1 << false << false << quint64{2};
    // Guards the counts kept after the keys and the order of the addresses (a report's rows):
    // each address keeps its first spelling and place, through growth and in the spread arenas.
    QTest::newRow("counted, arenas of one block") << 1 << true << false << quint64{2};
    // Guards a set emptied for reuse: old keys gone, its kept blocks and table reused and
    // counted in the peak a budget is checked against.
    // Guards the counts kept in 32 bits beside the keys: a source numbered past that moves an
    // address's counts to where they fit, and they are still right.
    QTest::newRow("counted, sources numbered past 32 bits")
        << 512 << true << false << quint64{(quint64{1} << 32) + 2};
    QTest::newRow("one arena, cleared") << 512 << false << true << quint64{2};
    QTest::newRow("arenas of one block, cleared") << 1 << false << true << quint64{2};
}

// Guards the growth of the table: every key is still found after it has doubled many times.
void SeenEmailsTest::growingKeepsEveryKey() {
    QFETCH(int, blocksPerArena);
    QFETCH(bool, counted);
    constexpr int Count = 300000;
    const auto blocks = static_cast<std::size_t>(blocksPerArena);
    SeenEmails seen = counted ? SeenEmails(SeenEmails::Counted, blocks) : SeenEmails(blocks);
    QFETCH(bool, clearedFirst);
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
    // A counting set keeps first spellings as they were: some are not lower-case.
    const auto keyOf = [counted](int i) {
        // Every 1000th longer than 255 bytes: its length is written another way.
        return (i % 1000 == 7 ? std::string(300, 'x') : std::string(counted ? "User" : "user")) +
               std::to_string(i) + "@example.com";
    };
    for (int i = 0; i < Count; ++i) {
        const std::string key = keyOf(i);
        // A budget is checked against this before the set takes more: it must not fall short.
        const std::size_t peak = seen.memoryPeakAfter(1, key.size());
        QVERIFY(seen.InsertLowerCased(key));
        QVERIFY(seen.memoryUsed() <= peak);
        QVERIFY(seen.ContainsLowerCased(UpperCased(key), HashLowerCased(key)));
    }
    std::vector<std::string> again;
    std::vector<std::uint64_t> hashes;
    for (int i = 0; i < Count; ++i) {
        again.push_back(UpperCased(keyOf(i)));
        hashes.push_back(HashLowerCased(again.back()));
    }
    std::vector<std::string_view> views(again.begin(), again.end());
    std::unique_ptr<bool[]> isNew(new bool[views.size()]);
    // Met again in source 2 at offset i, then once more there by a frozen set's look-up.
    QFETCH(quint64, laterSource);
    std::vector<Sighting> sightings;
    for (std::size_t i = 0; i < views.size(); ++i) {
        sightings.push_back(Sighting{laterSource, i});
    }
    if (counted) {
        seen.InsertCounting(views.data(), views.size(), isNew.get(), hashes.data(),
                            sightings.data());
    } else {
        seen.InsertLowerCased(views.data(), views.size(), isNew.get());
    }
    for (int i = 0; i < Count; ++i) {
        QVERIFY2(!isNew[static_cast<std::size_t>(i)], again[static_cast<std::size_t>(i)].c_str());
    }
    QCOMPARE(seen.size(), std::size_t{Count});
    if (counted) {
        // A new address first met in that source, at offset 7.
        const std::string_view fresh = "Fresh@example.com";
        const std::uint64_t freshHash = HashLowerCased(fresh);
        const Sighting freshSighting{laterSource, 7};
        bool freshIsNew = false;
        seen.InsertCounting(&fresh, 1, &freshIsNew, &freshHash, &freshSighting);
        QVERIFY(freshIsNew);
        seen.ContainsCounting(views.data(), views.size(), isNew.get(), hashes.data(),
                              sightings.data());
        seen.endLookups();
        const AddressTally freshTally = seen.counted(Count).tally;
        QVERIFY(freshTally.occurrences == 1 && freshTally.sources == 1 &&
                freshTally.firstSource == laterSource && freshTally.offset == 7 &&
                freshTally.lastSource == laterSource);
        for (int i = 0; i < Count; ++i) {
            const auto at = static_cast<std::size_t>(i);
            const SeenEmails::CountedAddress address = seen.counted(at);
            const AddressTally& tally = address.tally;
            QVERIFY2(isNew[at] && address.firstSpelling == keyOf(i), again[at].c_str());
            QVERIFY2(tally.occurrences == 3 && tally.sources == 2 && tally.firstSource == 0 &&
                         tally.offset == 0 && tally.lastSource == laterSource,
                     again[at].c_str());
        }
    }
}

QTEST_GUILESS_MAIN(SeenEmailsTest)
#include "tst_seen_emails.moc"
