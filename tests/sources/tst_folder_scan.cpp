#include "sources/folder_scan.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>

using namespace orlenta;

namespace {

// Creates `relative` files (and their folders) under `root`; names ending in "/" are folders.
void Build(const QString& root, const QStringList& relative) {
    for (const QString& path : relative) {
        const QString full = root + QLatin1Char('/') + path;
        if (path.endsWith(QLatin1Char('/'))) {
            QVERIFY(QDir().mkpath(full));
            continue;
        }
        QVERIFY(QDir().mkpath(QFileInfo(full).path()));
        QFile file(full);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
}

QByteArray Bytes(const QString& path) {
    return QFile::encodeName(path);
}

QStringList Shown(const QList<QByteArray>& paths) {
    QStringList shown;
    for (const QByteArray& path : paths) {
        shown.append(QFile::decodeName(path));
    }
    return shown;
}

LoadAnswer ParseAnswer(const QString& text) {
    if (text == QLatin1String("Yes")) {
        return LoadAnswer::Yes;
    }
    return text == QLatin1String("No") ? LoadAnswer::No : LoadAnswer::Cancel;
}

// Runs a scan with scripted answers and records what happened, in order: "?name" for each
// question, "+path" for each appended path (the part after `root`).
struct ScriptedScan {
    QStringList answers;
    QStringList log;
    QStringList appended;
    int questionsLeftOver = 0;

    FolderScanResult run(const QString& chosen, const QString& root) {
        FolderScanHooks hooks;
        hooks.ask = [this](const QString& name) {
            log.append(QLatin1Char('?') + name);
            if (answers.isEmpty()) {
                ++questionsLeftOver;
                return LoadAnswer::Cancel;
            }
            return ParseAnswer(answers.takeFirst());
        };
        hooks.append = [this, root](const QList<QByteArray>& paths) {
            for (const QString& path : Shown(paths)) {
                appended.append(path);
                log.append(QLatin1Char('+') + path.mid(root.size()));
            }
        };
        return ScanFolder(Bytes(chosen), hooks);
    }
};

QStringList Relative(const QStringList& paths, const QString& root) {
    QStringList relative;
    for (const QString& path : paths) {
        relative.append(path.mid(root.size()));
    }
    return relative;
}

}  // namespace

class FolderScanTest final : public QObject {
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
    void questionText();

    void exampleFolder_data();
    void exampleFolder();
    void passingTextsNeedNoQuestion();
    void levelOrder();
    void filesOnlyTwoLevelsDown();
    void hiddenFilesListedHiddenFoldersSkipped();
    void linkLoopsEnd();
    void linkedFolderEnteredOnce();
    void specialFilesNotListed();
    void vanishedFolderReported();
    void unreadableFolderReported();
    void missingChosenFolderReported();
    void scanningTwiceListsTwice();
    void emptyFolderAppendsNothing();
    void chosenPathJoinedAsText();
    void withoutAskEveryQuestionIsNo();
    void namesNotUtf8KeptAsBytes();

    void listFolderFiles();
    void nameOrder();
    void collectWithoutRecursion();
    void yieldCounts();
    void stopWhileWalking();
    void stopWhileListingFiles();
};

void FolderScanTest::rules_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("passedOver");
    QTest::addColumn<bool>("asked");

    QTest::newRow("a.txt") << "a.txt" << false << false;
    QTest::newRow("b.html") << "b.html" << false << false;
    QTest::newRow("c.htm") << "c.htm" << false << false;
    QTest::newRow("d.TXT") << "d.TXT" << false << true;
    QTest::newRow("x.HTM") << "x.HTM" << false << true;
    QTest::newRow("e.csv") << "e.csv" << false << true;
    QTest::newRow("no extension") << "README" << false << true;
    QTest::newRow("notes.txt.bak") << "notes.txt.bak" << false << false;
    QTest::newRow("report.html.old") << "report.html.old" << false << false;
    QTest::newRow("text in the middle") << "my.txtfile" << false << false;
    QTest::newRow("txt without dot") << "mytxt" << false << true;
    QTest::newRow("~tmp.txt") << "~tmp.txt" << true << false;
    QTest::newRow("~ later") << "a~b.csv" << false << true;
    QTest::newRow("hidden") << ".profile" << false << true;
}

void FolderScanTest::rules() {
    QFETCH(QString, name);
    QFETCH(bool, passedOver);
    QFETCH(bool, asked);
    QCOMPARE(IsPassedOver(name), passedOver);
    QCOMPARE(NeedsLoadQuestion(name), asked);
}

void FolderScanTest::questionText() {
    QCOMPARE(LoadQuestionText(QStringLiteral("e.csv")),
             QStringLiteral("e.csv is not a .htm .html or .txt file. Do you want to load it into "
                            "the list of files to extract from?"));
    QCOMPARE(QString::fromLatin1(FolderPrompt), QStringLiteral("Please select folder to add:"));
}

void FolderScanTest::exampleFolder_data() {
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<ScanEnd>("end");

    const QStringList first{"+/a.txt", "+/b.html", "+/c.htm", "?d.TXT"};
    QTest::newRow("No No") << QStringList{"No", "No", "No"}
                           << first + QStringList{"?e.csv", "+/sub/f.txt", "?g.dat"}
                           << ScanEnd::Completed;
    QTest::newRow("Yes No") << QStringList{"Yes", "No", "No"}
                            << first + QStringList{"+/d.TXT", "?e.csv", "+/sub/f.txt", "?g.dat"}
                            << ScanEnd::Completed;
    QTest::newRow("No Yes") << QStringList{"No", "Yes", "Yes"}
                            << first + QStringList{"?e.csv", "+/e.csv", "+/sub/f.txt", "?g.dat",
                                                   "+/sub/g.dat"}
                            << ScanEnd::Completed;
    // Guards against Cancel going on with the next file or folder, or dropping earlier entries.
    QTest::newRow("Cancel first") << QStringList{"Cancel"} << first << ScanEnd::Cancelled;
    QTest::newRow("Yes Cancel") << QStringList{"Yes", "Cancel"}
                                << first + QStringList{"+/d.TXT", "?e.csv"} << ScanEnd::Cancelled;
}

void FolderScanTest::exampleFolder() {
    QFETCH(QStringList, answers);
    QFETCH(QStringList, log);
    QFETCH(ScanEnd, end);

    QTemporaryDir dir;
    const QString root = dir.path();
    Build(root,
          {"a.txt", "b.html", "c.htm", "d.TXT", "e.csv", "~tmp.txt", "sub/f.txt", "sub/g.dat"});

    ScriptedScan scan{answers, {}, {}, 0};
    const FolderScanResult result = scan.run(root, root);
    QCOMPARE(scan.log, log);
    QCOMPARE(result.end, end);
    QCOMPARE(result.appended, scan.appended.size());
    QCOMPARE(scan.questionsLeftOver, 0);
    QVERIFY(result.unreadable.isEmpty());
}

void FolderScanTest::passingTextsNeedNoQuestion() {
    QTemporaryDir dir;
    Build(dir.path(), {"notes.txt.bak", "report.html.old"});
    ScriptedScan scan;
    scan.run(dir.path(), dir.path());
    QCOMPARE(scan.log, (QStringList{"+/notes.txt.bak", "+/report.html.old"}));
}

void FolderScanTest::levelOrder() {
    QTemporaryDir dir;
    Build(dir.path(), {"r.txt", "A/a1.txt", "A/A1/deep.txt", "A/A2/deep2.txt", "B/b1.txt",
                       "B/B1/deep3.txt", "C/"});
    ScriptedScan scan;
    scan.run(dir.path(), dir.path());
    QCOMPARE(Relative(scan.appended, dir.path()),
             (QStringList{"/r.txt", "/A/a1.txt", "/B/b1.txt", "/A/A1/deep.txt", "/A/A2/deep2.txt",
                          "/B/B1/deep3.txt"}));
}

void FolderScanTest::filesOnlyTwoLevelsDown() {
    QTemporaryDir dir;
    Build(dir.path(), {"x/y/z.txt", "x/y/w.htm", "empty/"});
    ScriptedScan scan;
    scan.run(dir.path(), dir.path());
    QCOMPARE(Relative(scan.appended, dir.path()), (QStringList{"/x/y/w.htm", "/x/y/z.txt"}));
}

void FolderScanTest::hiddenFilesListedHiddenFoldersSkipped() {
    QTemporaryDir dir;
    Build(dir.path(),
          {".profile", ".notes.txt", "visible.txt", ".cache/c.txt", "sub/.git/d.txt", "sub/e.txt"});
    ScriptedScan scan{{"Yes"}, {}, {}, 0};
    scan.run(dir.path(), dir.path());
    QCOMPARE(scan.log, (QStringList{"+/.notes.txt", "?.profile", "+/.profile", "+/visible.txt",
                                    "+/sub/e.txt"}));
}

void FolderScanTest::linkLoopsEnd() {
    QTemporaryDir dir;
    const QString root = dir.path();
    Build(root, {"a.txt", "sub/b.txt"});
    QVERIFY(QFile::link(QStringLiteral(".."), root + QStringLiteral("/sub/up")));
    QVERIFY(QFile::link(QStringLiteral("."), root + QStringLiteral("/sub/self")));
    QVERIFY(QFile::link(root, root + QStringLiteral("/sub/absolute")));

    ScriptedScan scan;
    const FolderScanResult result = scan.run(root, root);
    QCOMPARE(result.end, ScanEnd::Completed);
    QCOMPARE(Relative(scan.appended, root), (QStringList{"/a.txt", "/sub/b.txt"}));
}

void FolderScanTest::linkedFolderEnteredOnce() {
    QTemporaryDir dir;
    const QString root = dir.path();
    Build(root, {"real/b.txt"});
    QVERIFY(QFile::link(root + QStringLiteral("/real"), root + QStringLiteral("/link")));

    ScriptedScan scan;
    scan.run(root, root);
    // "link" comes first in name order, so the folder is entered through it, and only once.
    QCOMPARE(Relative(scan.appended, root), QStringList{"/link/b.txt"});
}

void FolderScanTest::specialFilesNotListed() {
    QTemporaryDir dir;
    const QString root = dir.path();
    Build(root, {"a.txt"});
    QCOMPARE(::mkfifo(QFile::encodeName(root + QStringLiteral("/pipe.txt")).constData(), 0600), 0);
    QVERIFY(QFile::link(root + QStringLiteral("/a.txt"), root + QStringLiteral("/link.txt")));
    QVERIFY(QFile::link(root + QStringLiteral("/gone.txt"), root + QStringLiteral("/broken.txt")));

    ScriptedScan scan;
    scan.run(root, root);
    QCOMPARE(Relative(scan.appended, root), (QStringList{"/a.txt", "/link.txt"}));
}

void FolderScanTest::vanishedFolderReported() {
    QTemporaryDir dir;
    const QString root = dir.path();
    Build(root, {"a.txt", "gone/b.txt", "kept/c.txt"});

    // The folder disappears after the walk found it and before its files are listed.
    bool removed = false;
    FolderScanHooks hooks;
    QStringList appended;
    hooks.append = [&appended](const QList<QByteArray>& paths) { appended += Shown(paths); };
    hooks.yield = [&](ScanYieldPoint point) {
        if (point == ScanYieldPoint::FolderFiles && !removed) {
            removed = QDir(root + QStringLiteral("/gone")).removeRecursively();
        }
        return true;
    };
    const FolderScanResult result = ScanFolder(Bytes(root), hooks);
    QVERIFY(removed);
    QCOMPARE(result.end, ScanEnd::Completed);
    QCOMPARE(Relative(appended, root), (QStringList{"/a.txt", "/kept/c.txt"}));
    QCOMPARE(result.unreadable.size(), 1);
    QCOMPARE(result.unreadable.first().path, Bytes(root + QStringLiteral("/gone")));
    QVERIFY(!result.unreadable.first().reason.isEmpty());
}

void FolderScanTest::unreadableFolderReported() {
    if (::geteuid() == 0) {
        QSKIP("Folder permissions do not hold back root");
    }
    QTemporaryDir dir;
    const QString root = dir.path();
    Build(root, {"a.txt", "locked/b.txt", "open/c.txt"});
    const QByteArray locked = QFile::encodeName(root + QStringLiteral("/locked"));
    QCOMPARE(::chmod(locked.constData(), 0), 0);

    ScriptedScan scan;
    const FolderScanResult result = scan.run(root, root);
    ::chmod(locked.constData(), 0700);  // so that the temporary folder can be removed
    QCOMPARE(Relative(scan.appended, root), (QStringList{"/a.txt", "/open/c.txt"}));
    QCOMPARE(result.unreadable.size(), 1);
    QCOMPARE(result.unreadable.first().path, Bytes(root + QStringLiteral("/locked")));
    QCOMPARE(result.unreadable.first().reason, QStringLiteral("Permission denied"));
}

void FolderScanTest::missingChosenFolderReported() {
    QTemporaryDir dir;
    const QString missing = dir.path() + QStringLiteral("/missing");
    ScriptedScan scan;
    const FolderScanResult result = scan.run(missing, dir.path());
    QVERIFY(scan.log.isEmpty());
    QCOMPARE(result.unreadable.size(), 1);
    QCOMPARE(result.unreadable.first().path, Bytes(missing));
}

void FolderScanTest::scanningTwiceListsTwice() {
    QTemporaryDir dir;
    Build(dir.path(), {"a.txt", "sub/b.txt"});
    ScriptedScan scan;
    scan.run(dir.path(), dir.path());
    const FolderScanResult second = scan.run(dir.path(), dir.path());
    QCOMPARE(second.appended, 2);
    QCOMPARE(Relative(scan.appended, dir.path()),
             (QStringList{"/a.txt", "/sub/b.txt", "/a.txt", "/sub/b.txt"}));
}

void FolderScanTest::emptyFolderAppendsNothing() {
    QTemporaryDir dir;
    ScriptedScan scan;
    const FolderScanResult result = scan.run(dir.path(), dir.path());
    QVERIFY(scan.log.isEmpty());
    QCOMPARE(result.end, ScanEnd::Completed);
    QCOMPARE(result.appended, 0);
    QVERIFY(result.unreadable.isEmpty());

    const FolderScanResult none = scan.run(QString(), dir.path());
    QVERIFY(scan.log.isEmpty());
    QVERIFY(none.unreadable.isEmpty());
}

// A chosen path that already ends in the separator (as a root folder does) keeps the doubled
// separator that the joining produces, like C:\\a.txt and C:\\Docs\b.txt.
void FolderScanTest::chosenPathJoinedAsText() {
    QTemporaryDir dir;
    Build(dir.path(), {"a.txt", "Docs/b.txt"});
    ScriptedScan scan;
    scan.run(dir.path() + QLatin1Char('/'), dir.path());
    QCOMPARE(Relative(scan.appended, dir.path()), (QStringList{"//a.txt", "//Docs/b.txt"}));
    for (const QString& path : std::as_const(scan.appended)) {
        QVERIFY2(QFile::exists(path), qPrintable(path));
    }
}

void FolderScanTest::withoutAskEveryQuestionIsNo() {
    QTemporaryDir dir;
    Build(dir.path(), {"a.txt", "b.csv"});
    QStringList appended;
    FolderScanHooks hooks;
    hooks.append = [&appended](const QList<QByteArray>& paths) { appended += Shown(paths); };
    ScanFolder(Bytes(dir.path()), hooks);
    QCOMPARE(Relative(appended, dir.path()), QStringList{"/a.txt"});
}

// Guards against a name that is not UTF-8 being appended as its shown text, which names no file.
void FolderScanTest::namesNotUtf8KeptAsBytes() {
    QTemporaryDir dir;
    const QByteArray root = Bytes(dir.path());
    QCOMPARE(::mkdir(root + "/dir\xe9", 0700), 0);
    for (const char* name : {"/dir\xe9/caf\xe9.txt", "/dir\xe9/r\xe9sum\xe9.csv"}) {
        std::FILE* file = std::fopen(root + name, "w");
        QVERIFY(file != nullptr);
        std::fclose(file);
    }
    QList<QByteArray> appended;
    QStringList asked;
    FolderScanHooks hooks;
    hooks.append = [&appended](const QList<QByteArray>& paths) { appended += paths; };
    hooks.ask = [&asked](const QString& name) {
        asked.append(name);
        return LoadAnswer::Yes;
    };
    ScanFolder(root, hooks);
    QCOMPARE(appended, (QList<QByteArray>{root + "/dir\xe9/caf\xe9.txt",
                                          root + "/dir\xe9/r\xe9sum\xe9.csv"}));
    // The question shows the name as Qt shows it.
    QCOMPARE(asked, QStringList{QFile::decodeName("r\xe9sum\xe9.csv")});
    for (const QByteArray& path : std::as_const(appended)) {
        QCOMPARE(::access(path, R_OK), 0);
        QCOMPARE(::unlink(path), 0);  // QTemporaryDir removes only names that QString can carry
    }
    QCOMPARE(::rmdir(root + "/dir\xe9"), 0);
}

void FolderScanTest::listFolderFiles() {
    QTemporaryDir dir;
    Build(dir.path(), {"b.txt", ".hidden", "a.csv", "sub/c.txt"});
    const QList<QByteArray> expected{".hidden", "a.csv", "b.txt"};
    const QByteArray root = Bytes(dir.path());
    QCOMPARE(ListFolderFiles(root), expected);
    QCOMPARE(ListFolderFiles(root + '/'), expected);

    QString error = QStringLiteral("stale");
    QCOMPARE(ListFolderFiles(root + "/sub", &error), QList<QByteArray>{"c.txt"});
    QVERIFY(error.isEmpty());
    QVERIFY(ListFolderFiles(root + "/nothing", &error).isEmpty());
    QVERIFY(!error.isEmpty());
}

void FolderScanTest::nameOrder() {
    QTemporaryDir dir;
    Build(dir.path(), {"b.txt", "C.txt", "a.txt", "A.txt", "_x.txt", "10.txt", "9.txt"});
    QCOMPARE(ListFolderFiles(Bytes(dir.path())),
             (QList<QByteArray>{"10.txt", "9.txt", "_x.txt", "A.txt", "a.txt", "b.txt", "C.txt"}));
}

void FolderScanTest::collectWithoutRecursion() {
    QTemporaryDir dir;
    const QByteArray root = Bytes(dir.path()) + '/';
    Build(dir.path(), {"b/x/", "a/y/", ".h/"});
    FolderWalk walk;
    FolderList folders{root};
    QVERIFY(CollectSubfolders(folders, false, walk));
    QCOMPARE(folders, (FolderList{root, root + "a/", root + "b/"}));

    FolderWalk deeper;
    FolderList all{root};
    QVERIFY(CollectSubfolders(all, true, deeper));
    QCOMPARE(all, (FolderList{root, root + "a/", root + "b/", root + "a/y/", root + "b/x/"}));
}

// The window yields at these points; the counts follow from the tree: root holds a.txt, s1, s2
// (and the hidden .h, not counted); s1 holds b.txt and t; t holds c.txt.
void FolderScanTest::yieldCounts() {
    QTemporaryDir dir;
    Build(dir.path(), {"a.txt", "s1/b.txt", "s1/t/c.txt", "s2/", ".h/x.txt"});
    std::map<ScanYieldPoint, int> counts;
    QList<ScanYieldPoint> order;
    FolderScanHooks hooks;
    hooks.yield = [&](ScanYieldPoint point) {
        ++counts[point];
        order.append(point);
        return true;
    };
    const FolderScanResult result = ScanFolder(Bytes(dir.path()), hooks);
    QCOMPARE(result.end, ScanEnd::Completed);
    QCOMPARE(counts[ScanYieldPoint::FolderOpened], 4);    // root, s1, s2, t
    QCOMPARE(counts[ScanYieldPoint::NameEnumerated], 6);  // 3 in root, 2 in s1, 1 in t
    QCOMPARE(counts[ScanYieldPoint::FolderMerged], 4);    // t into [s1, s2], then s1, s2, t
    QCOMPARE(counts[ScanYieldPoint::FolderFiles], 4);     // one per folder listed
    QCOMPARE(order.first(), ScanYieldPoint::FolderOpened);
    QCOMPARE(order.last(), ScanYieldPoint::FolderFiles);
}

// Guards against a closed window's scan going on walking or appending.
void FolderScanTest::stopWhileWalking() {
    QTemporaryDir dir;
    Build(dir.path(), {"a.txt", "s1/b.txt", "s2/c.txt"});
    int calls = 0;
    int callsAfterStop = 0;
    QStringList appended;
    FolderScanHooks hooks;
    hooks.append = [&appended](const QList<QByteArray>& paths) { appended += Shown(paths); };
    hooks.yield = [&](ScanYieldPoint) {
        ++calls;
        if (calls > 3) {
            ++callsAfterStop;
        }
        return calls < 3;
    };
    const FolderScanResult result = ScanFolder(Bytes(dir.path()), hooks);
    QCOMPARE(result.end, ScanEnd::Stopped);
    QCOMPARE(calls, 3);
    QCOMPARE(callsAfterStop, 0);
    QVERIFY(appended.isEmpty());
}

void FolderScanTest::stopWhileListingFiles() {
    QTemporaryDir dir;
    Build(dir.path(), {"a.txt", "s1/b.txt", "s2/c.txt"});
    int folderFiles = 0;
    QStringList appended;
    FolderScanHooks hooks;
    hooks.append = [&appended](const QList<QByteArray>& paths) { appended += Shown(paths); };
    hooks.yield = [&](ScanYieldPoint point) {
        if (point == ScanYieldPoint::FolderFiles) {
            ++folderFiles;
        }
        return folderFiles < 2;
    };
    const FolderScanResult result = ScanFolder(Bytes(dir.path()), hooks);
    QCOMPARE(result.end, ScanEnd::Stopped);
    QCOMPARE(Relative(appended, dir.path()), QStringList{"/a.txt"});
    QCOMPARE(result.appended, 1);
}

QTEST_GUILESS_MAIN(FolderScanTest)
#include "tst_folder_scan.moc"
