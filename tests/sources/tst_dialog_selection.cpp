#include "dialog_selection.h"

#include <QTest>

using namespace orlenta;

namespace {

// A dialog answer: the parts separated by single NUL characters.
QString Answer(const QStringList& parts) {
    return parts.join(QChar(0));
}

}  // namespace

class DialogSelectionTest final : public QObject {
    Q_OBJECT

private slots:
    void split_data();
    void split();
    void splitManyNames();
    void join_data();
    void join();
    void joinThenSplitGivesTheChosenPaths_data();
    void joinThenSplitGivesTheChosenPaths();
};

void DialogSelectionTest::split_data() {
    QTest::addColumn<QString>("returned");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QStringList>("expected");

    const QChar back('\\');
    const QChar slash('/');

    QTest::newRow("cancelled") << QString() << back << QStringList();
    QTest::newRow("one file") << QStringLiteral("C:\\Data\\mail one.txt") << back
                              << QStringList{"C:\\Data\\mail one.txt"};
    QTest::newRow("three files") << Answer({"C:\\Data", "a.txt", "b.txt", "c.txt"}) << back
                                 << QStringList{"C:\\Data\\a.txt", "C:\\Data\\b.txt",
                                                "C:\\Data\\c.txt"};
    QTest::newRow("dialog order kept") << Answer({"C:\\Data", "c.txt", "a.txt"}) << back
                                       << QStringList{"C:\\Data\\c.txt", "C:\\Data\\a.txt"};
    QTest::newRow("drive root") << Answer({"C:\\", "a.txt", "b.txt"}) << back
                                << QStringList{"C:\\a.txt", "C:\\b.txt"};
    // Guards against folding only the first doubling instead of every one.
    QTest::newRow("every doubling folded")
        << Answer({"C:\\\\Data\\", "x\\\\y.txt"}) << back << QStringList{"C:\\Data\\x\\y.txt"};
    // Guards against folding repeatedly: one left-to-right pass turns four into two.
    QTest::newRow("one pass") << Answer({"C:\\Data\\\\\\", "a.txt"}) << back
                              << QStringList{"C:\\Data\\\\a.txt"};
    // Guards against destroying a network share's leading pair.
    QTest::newRow("network share")
        << Answer({"\\\\server\\share", "a.txt", "b.txt"}) << back
        << QStringList{"\\\\server\\share\\a.txt", "\\\\server\\share\\b.txt"};
    QTest::newRow("one part left alone")
        << QStringLiteral("C:\\\\Data\\a.txt") << back << QStringList{"C:\\\\Data\\a.txt"};

    QTest::newRow("linux one file") << QStringLiteral("/home/ann/mail one.txt") << slash
                                    << QStringList{"/home/ann/mail one.txt"};
    QTest::newRow("linux three files")
        << Answer({"/home/ann", "a.txt", "b.txt", "c.txt"}) << slash
        << QStringList{"/home/ann/a.txt", "/home/ann/b.txt", "/home/ann/c.txt"};
    QTest::newRow("linux root") << Answer({"/", "a.txt", "b.txt"}) << slash
                                << QStringList{"/a.txt", "/b.txt"};
    // Guards against folding a character that is not this platform's separator.
    QTest::newRow("backslash is a name character on linux")
        << Answer({"/data", "a\\\\b.txt"}) << slash << QStringList{"/data/a\\\\b.txt"};
}

void DialogSelectionTest::split() {
    QFETCH(QString, returned);
    QFETCH(QChar, separator);
    QFETCH(QStringList, expected);
    QCOMPARE(SplitDialogSelection(returned, separator), expected);
}

// Guards against a length limit (the old dialog buffer held 30000 characters).
void DialogSelectionTest::splitManyNames() {
    QStringList parts{QStringLiteral("/data/a folder with a long name")};
    for (int i = 0; i < 5000; ++i) {
        parts.append(QStringLiteral("file number %1 of many.txt").arg(i));
    }
    const QString returned = Answer(parts);
    QVERIFY(returned.size() > 100000);

    const QStringList paths = SplitDialogSelection(returned, QLatin1Char('/'));
    QCOMPARE(paths.size(), 5000);
    QCOMPARE(paths.first(),
             QStringLiteral("/data/a folder with a long name/file number 0 of many.txt"));
    QCOMPARE(paths.last(),
             QStringLiteral("/data/a folder with a long name/file number 4999 of many.txt"));
}

void DialogSelectionTest::join_data() {
    QTest::addColumn<QStringList>("chosen");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QString>("expected");

    const QChar back('\\');
    const QChar slash('/');

    QTest::newRow("nothing") << QStringList() << slash << QString();
    QTest::newRow("one path") << QStringList{"/home/ann/a.txt"} << slash
                              << QStringLiteral("/home/ann/a.txt");
    QTest::newRow("same folder") << QStringList{"/home/ann/a.txt", "/home/ann/b.txt"} << slash
                                 << Answer({"/home/ann", "a.txt", "b.txt"});
    QTest::newRow("linux root") << QStringList{"/a.txt", "/b.txt"} << slash
                                << Answer({"/", "a.txt", "b.txt"});
    QTest::newRow("drive root") << QStringList{"C:\\a.txt", "C:\\b.txt"} << back
                                << Answer({"C:\\", "a.txt", "b.txt"});
    QTest::newRow("network share")
        << QStringList{"\\\\server\\share\\a.txt", "\\\\server\\share\\b.txt"} << back
        << Answer({"\\\\server\\share", "a.txt", "b.txt"});
    QTest::newRow("different folders")
        << QStringList{"/home/ann/a.txt", "/home/bob/b.txt", "/home/c.txt"} << slash
        << Answer({"/home", "ann/a.txt", "bob/b.txt", "c.txt"});
    QTest::newRow("only the root in common")
        << QStringList{"/x/a.txt", "/y/b.txt"} << slash << Answer({"/", "x/a.txt", "y/b.txt"});
    QTest::newRow("different drives") << QStringList{"C:\\a.txt", "D:\\b.txt"} << back << QString();
    QTest::newRow("different servers")
        << QStringList{"\\\\one\\share\\a.txt", "\\\\two\\share\\b.txt"} << back << QString();
    QTest::newRow("relative names") << QStringList{"a.txt", "b.txt"} << slash << QString();
}

void DialogSelectionTest::join() {
    QFETCH(QStringList, chosen);
    QFETCH(QChar, separator);
    QFETCH(QString, expected);
    QCOMPARE(JoinDialogSelection(chosen, separator), expected);
}

void DialogSelectionTest::joinThenSplitGivesTheChosenPaths_data() {
    QTest::addColumn<QStringList>("chosen");
    QTest::addColumn<QChar>("separator");

    QTest::newRow("one") << QStringList{"/home/ann/mail one.txt"} << QChar('/');
    QTest::newRow("same folder") << QStringList{"/home/ann/b.txt", "/home/ann/a.txt"} << QChar('/');
    QTest::newRow("linux root") << QStringList{"/a.txt", "/b.txt"} << QChar('/');
    QTest::newRow("drive root") << QStringList{"C:\\a.txt", "C:\\b.txt"} << QChar('\\');
    QTest::newRow("share") << QStringList{"\\\\s\\d\\a.txt", "\\\\s\\d\\e\\b.txt"} << QChar('\\');
    QTest::newRow("nested") << QStringList{"/data/a.txt", "/data/sub/deeper/b.txt"} << QChar('/');
}

void DialogSelectionTest::joinThenSplitGivesTheChosenPaths() {
    QFETCH(QStringList, chosen);
    QFETCH(QChar, separator);
    QCOMPARE(SplitDialogSelection(JoinDialogSelection(chosen, separator), separator), chosen);
}

QTEST_GUILESS_MAIN(DialogSelectionTest)
#include "tst_dialog_selection.moc"
