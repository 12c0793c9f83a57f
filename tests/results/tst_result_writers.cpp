#include "results/output_file.h"
#include "results/result_writers.h"
#include "results/results_model.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>

using namespace orlenta;

Q_DECLARE_METATYPE(ResultFormat)

namespace {

Addresses Numbered(int count) {
    Addresses addresses;
    addresses.reserve(count);
    for (int i = 0; i < count; ++i) {
        addresses.push_back("user" + std::to_string(i) + "@example.com");
    }
    return addresses;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// The addresses a saved file holds, read back without the writer's help.
Addresses ParseSaved(const QByteArray& bytes, ResultFormat format) {
    Addresses addresses;
    if (format == ResultFormat::List) {
        const QList<QByteArray> lines = bytes.split('\n');
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            if (!lines[i].endsWith('\r')) {
                return {"<line without CR>"};
            }
            addresses.push_back(lines[i].chopped(1).toStdString());
        }
        return lines.last().isEmpty() ? addresses : Addresses{"<unterminated last line>"};
    }
    if (!bytes.endsWith("\r\n") || bytes.count('\n') != 1) {
        return {"<not one CR LF line>"};
    }
    const QByteArray line = bytes.chopped(2);
    if (line.isEmpty()) {
        return addresses;
    }
    for (const QByteArray& address : line.split(',')) {
        addresses.push_back(address.toStdString());
    }
    return addresses;
}

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot |
                                  QDir::System);
}

// The same for names that are bytes QString cannot carry.
QByteArray ReadBytes(const QByteArray& path) {
    QFile file;
    std::FILE* stream = std::fopen(path.constData(), "rb");
    if (stream == nullptr || !file.open(stream, QIODevice::ReadOnly)) {
        return "<unreadable>";
    }
    const QByteArray bytes = file.readAll();
    std::fclose(stream);
    return bytes;
}

bool WriteBytes(const QByteArray& path, const QByteArray& bytes) {
    std::FILE* stream = std::fopen(path.constData(), "wb");
    return stream != nullptr &&
           std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) ==
               size_t(bytes.size()) &&
           std::fclose(stream) == 0;
}

// Every name in `folder`, as bytes (QDir leaves out names that are not UTF-8).
QList<QByteArray> Names(const QByteArray& folder) {
    QList<QByteArray> names;
    DIR* dir = ::opendir(folder.constData());
    while (const dirent* entry = dir != nullptr ? ::readdir(dir) : nullptr) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.append(entry->d_name);
        }
    }
    if (dir != nullptr) {
        ::closedir(dir);
    }
    return names;
}

struct stat Status(const QByteArray& path) {
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0) {
        status.st_mode = 0;
    }
    return status;
}

constexpr uid_t Nobody = 65534;

// Runs `check` where file permissions hold: as root, in a child process that has become
// nobody (`folder` is handed to nobody first); otherwise here. `check` says on standard error
// what went wrong and returns false.
bool WithoutRootRights(const QString& folder, const std::function<bool()>& check) {
    if (::geteuid() != 0) {
        return check();
    }
    if (::chown(QFile::encodeName(folder).constData(), Nobody, Nobody) != 0) {
        return false;
    }
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const bool passed = ::setgid(Nobody) == 0 && ::setuid(Nobody) == 0 && check();
        std::fflush(nullptr);
        ::_exit(passed ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

bool Expect(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "FAILED: %s\n", what);
    }
    return condition;
}

}  // namespace

class ResultWritersTest final : public QObject {
    Q_OBJECT

private slots:
    void saveWritesTheFormat_data();
    void saveWritesTheFormat();
    void overwriteLeavesNoTail_data();
    void overwriteLeavesNoTail();
    void largeListsComplete_data();
    void largeListsComplete();
    void nameUsedExactly();
    void targetKeepsItsKind_data();
    void targetKeepsItsKind();
    void permissionsAndOwnerKept();

    void failureKeepsOldFile_data();
    void failureKeepsOldFile();
    void readOnlyFileRefused();
    void folderWithoutWriteAccess();
    void fileSizeLimit();
    void diskFull();

    void hookRunsPerAddressBeforeTheFileIsTouched();
    void hookCanAbandon();
    void snapshotSurvivesChangesDuringTheSave();
};

void ResultWritersTest::saveWritesTheFormat_data() {
    QTest::addColumn<Addresses>("addresses");
    QTest::addColumn<ResultFormat>("format");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("list, none") << Addresses{} << ResultFormat::List << QByteArray();
    QTest::newRow("list, one") << Addresses{"a@b.com"} << ResultFormat::List
                               << QByteArray("a@b.com\r\n");
    QTest::newRow("list, three") << Addresses{"A@x.org", "B@y.net", "C@z.com"} << ResultFormat::List
                                 << QByteArray("A@x.org\r\nB@y.net\r\nC@z.com\r\n");
    QTest::newRow("comma, none") << Addresses{} << ResultFormat::CommaDelimited
                                 << QByteArray("\r\n");
    QTest::newRow("comma, one") << Addresses{"a@b.com"} << ResultFormat::CommaDelimited
                                << QByteArray("a@b.com\r\n");
    QTest::newRow("comma, three") << Addresses{"A@x.org", "B@y.net", "C@z.com"}
                                  << ResultFormat::CommaDelimited
                                  << QByteArray("A@x.org,B@y.net,C@z.com\r\n");
}

void ResultWritersTest::saveWritesTheFormat() {
    QFETCH(Addresses, addresses);
    QFETCH(ResultFormat, format);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    QString error;
    QVERIFY2(SaveResults(path, addresses, format, &error), qPrintable(error));
    QCOMPARE(ReadAll(path), bytes);
    QCOMPARE(Entries(dir.path()), QStringList{"out.txt"});
}

void ResultWritersTest::overwriteLeavesNoTail_data() {
    QTest::addColumn<ResultFormat>("format");
    QTest::newRow("list") << ResultFormat::List;
    QTest::newRow("comma") << ResultFormat::CommaDelimited;
}

// Guards against writing over the old bytes without cutting the file.
void ResultWritersTest::overwriteLeavesNoTail() {
    QFETCH(ResultFormat, format);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    WriteFile(path, QByteArray(10000, 'x'));
    QVERIFY(SaveResults(path, {"a@b.com"}, format));
    QCOMPARE(ReadAll(path), QByteArray("a@b.com\r\n"));
    QVERIFY(SaveResults(path, {}, format));
    QCOMPARE(ReadAll(path).size(), format == ResultFormat::List ? 0 : 2);
}

void ResultWritersTest::largeListsComplete_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<ResultFormat>("format");
    // 32,766 was the old limit of 16-bit positions; one more must not be lost.
    for (const int count : {32766, 32767, 100000}) {
        QTest::addRow("list, %d", count) << count << ResultFormat::List;
        QTest::addRow("comma, %d", count) << count << ResultFormat::CommaDelimited;
    }
}

void ResultWritersTest::largeListsComplete() {
    QFETCH(int, count);
    QFETCH(ResultFormat, format);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.txt"));
    const Addresses addresses = Numbered(count);
    int hookCalls = 0;
    QVERIFY(SaveResults(path, addresses, format, nullptr, [&hookCalls] {
        ++hookCalls;
        return true;
    }));
    QCOMPARE(hookCalls, format == ResultFormat::CommaDelimited ? count : 0);
    QVERIFY(ParseSaved(ReadAll(path), format) == addresses);
}

// No extension is added: the name is used as given.
void ResultWritersTest::nameUsedExactly() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("results"));
    QVERIFY(SaveResults(path, {"a@b.com"}, ResultFormat::List));
    QCOMPARE(Entries(dir.path()), QStringList{"results"});
}

void ResultWritersTest::targetKeepsItsKind_data() {
    QTest::addColumn<QByteArray>("name");      // what the save is given
    QTest::addColumn<QByteArray>("receiver");  // the file that gets the bytes; "" none to read
    QTest::addColumn<mode_t>("kind");          // what `name` must still be afterwards
    QTest::newRow("name not UTF-8")
        << QByteArray("caf\xe9.txt") << QByteArray("caf\xe9.txt") << mode_t(S_IFREG);
    QTest::newRow("symbolic link")
        << QByteArray("link") << QByteArray("target.txt") << mode_t(S_IFLNK);
    QTest::newRow("link to a link")
        << QByteArray("chain") << QByteArray("target.txt") << mode_t(S_IFLNK);
    QTest::newRow("dangling link")
        << QByteArray("dangling") << QByteArray("new.txt") << mode_t(S_IFLNK);
    QTest::newRow("FIFO with a reader")
        << QByteArray("fifo") << QByteArray("fifo") << mode_t(S_IFIFO);
    QTest::newRow("device node") << QByteArray("null") << QByteArray() << mode_t(S_IFCHR);
}

// Guards against a save that replaces a link, FIFO or device with a regular file (as root,
// "/dev/null" itself), or loses a name that is not UTF-8.
void ResultWritersTest::targetKeepsItsKind() {
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, receiver);
    QFETCH(mode_t, kind);
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + '/';
    QVERIFY(WriteBytes(folder + "target.txt", "old\r\n"));
    QVERIFY(WriteBytes(folder + "caf\xe9.txt", "old\r\n"));
    // QTemporaryDir removes only names that QString can carry.
    const auto removeName = qScopeGuard([&folder] { ::unlink(folder + "caf\xe9.txt"); });
    QCOMPARE(::symlink("target.txt", folder + "link"), 0);
    QCOMPARE(::symlink("link", folder + "chain"), 0);
    QCOMPARE(::symlink("new.txt", folder + "dangling"), 0);
    QCOMPARE(::mkfifo(folder + "fifo", 0600), 0);
    if (kind == S_IFCHR && ::mknod(folder + "null", S_IFCHR | 0666, makedev(1, 3)) != 0) {
        QSKIP("Making a device node needs root");
    }
    // A reader that is already there, so that the FIFO takes the bytes without waiting.
    const int reader = ::open(folder + "fifo", O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    const auto closeReader = qScopeGuard([reader] { ::close(reader); });

    QString error;
    QVERIFY2(SaveResults(folder + name, {"a@b.com"}, ResultFormat::List, &error),
             qPrintable(error));
    QCOMPARE(Status(folder + name).st_mode & S_IFMT, kind);
    if (kind == S_IFIFO) {
        char bytes[64] = {};
        QCOMPARE(QByteArray(bytes, int(::read(reader, bytes, sizeof bytes))), "a@b.com\r\n");
    } else if (!receiver.isEmpty()) {
        QCOMPARE(ReadBytes(folder + receiver), QByteArray("a@b.com\r\n"));
    }
    // No temporary file is left: the six names made above, the device node, the new file.
    QCOMPARE(Names(folder).size(), 6 + (kind == S_IFCHR) + (receiver == "new.txt"));
}

// Guards against a replaced file that lets more people read it, or changes hands.
void ResultWritersTest::permissionsAndOwnerKept() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    const QByteArray name = QFile::encodeName(path);
    WriteFile(path, "old\r\n");
    QCOMPARE(::chmod(name, 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        QCOMPARE(::chown(name, Nobody, Nobody), 0);
    }
    QVERIFY(SaveResults(name, {"a@b.com"}, ResultFormat::List));
    const struct stat status = Status(name);
    QCOMPARE(status.st_mode & 07777, mode_t(0640));
    QCOMPARE(status.st_uid, root ? Nobody : ::geteuid());
    QCOMPARE(ReadAll(path), QByteArray("a@b.com\r\n"));
}

void ResultWritersTest::failureKeepsOldFile_data() {
    QTest::addColumn<QString>("target");  // relative to the temporary folder
    QTest::addColumn<QString>("reason");
    QTest::newRow("parent is a file") << "plain.txt/out.txt"
                                      << "Not a directory";
    QTest::newRow("target is a folder") << "folder"
                                        << "Is a directory";
    QTest::newRow("FIFO without a reader") << "fifo"
                                           << "No process is reading from it";
    QTest::newRow("parent missing") << "missing/out.txt"
                                    << "No such file or directory";
}

// These fail for root as well. Guards against a failure that damages the old file, leaves
// a temporary file behind or says nothing about why.
void ResultWritersTest::failureKeepsOldFile() {
    QFETCH(QString, target);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    WriteFile(dir.filePath(QStringLiteral("plain.txt")), "old content\r\n");
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    WriteFile(dir.filePath(QStringLiteral("folder/inside.txt")), "inside\r\n");
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo"))), 0600), 0);
    const QStringList before = Entries(dir.path());

    for (const ResultFormat format : {ResultFormat::List, ResultFormat::CommaDelimited}) {
        QString error;
        QVERIFY(!SaveResults(dir.filePath(target), {"a@b.com", "c@d.org"}, format, &error));
        QCOMPARE(error, reason);
    }
    QCOMPARE(ReadAll(dir.filePath(QStringLiteral("plain.txt"))), QByteArray("old content\r\n"));
    QCOMPARE(ReadAll(dir.filePath(QStringLiteral("folder/inside.txt"))), QByteArray("inside\r\n"));
    QCOMPARE(Entries(dir.path()), before);
    QCOMPARE(Entries(dir.filePath(QStringLiteral("folder"))), QStringList{"inside.txt"});
}

// Guards against replacing a file whose permissions refuse writing, which ">" would refuse.
void ResultWritersTest::readOnlyFileRefused() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    const auto check = [&] {
        WriteFile(path, "old\r\n");
        QString error;
        return QFile::setPermissions(path, QFile::ReadOwner) &&
               Expect(!SaveResults(path, {"a@b.com"}, ResultFormat::List, &error), "refused") &&
               Expect(error == QStringLiteral("Permission denied"), qPrintable(error)) &&
               Expect(ReadAll(path) == "old\r\n", "old content kept") &&
               Expect(Entries(dir.path()) == QStringList{"out.txt"}, "nothing left behind");
    };
    QVERIFY2(WithoutRootRights(dir.path(), check), "see the reason above");
}

// Guards against refusing a writable file in a folder that takes no new files (no room for
// the temporary file), and against touching it before commit() when writing it in place.
void ResultWritersTest::folderWithoutWriteAccess() {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("locked"));
    const QString path = folder + QStringLiteral("/out.txt");
    const auto check = [&] {
        if (!QDir(dir.path()).mkdir(QStringLiteral("locked"))) {
            return false;
        }
        WriteFile(path, QByteArray(5000, 'x'));
        if (!QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner)) {
            return false;
        }
        const auto unlock = qScopeGuard([&folder] {
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        QString error;
        const bool saved = SaveResults(path, {"a@b.com"}, ResultFormat::CommaDelimited, &error);
        OutputFile abandoned;
        const bool opened = abandoned.open(QFile::encodeName(path).toStdString()) &&
                            abandoned.write(std::string(9000, 'y'));
        // The file may be an input still being read (-o list.txt list.txt): untouched till commit.
        const bool untouched = ReadAll(path) == "a@b.com\r\n";
        abandoned.discard();
        return Expect(saved, qPrintable(error)) && Expect(opened, abandoned.error().c_str()) &&
               Expect(untouched, "written in place before commit") &&
               Expect(ReadAll(path) == "a@b.com\r\n",
                      "an abandoned write in place changes nothing") &&
               Expect(Entries(folder) == QStringList{"out.txt"}, "nothing left behind");
    };
    QVERIFY2(WithoutRootRights(dir.path(), check), "see the reason above");
}

// The process may not write files beyond a size limit: the write fails part-way, as on a
// full disk, and does so for root as well.
void ResultWritersTest::fileSizeLimit() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    WriteFile(path, "old\r\n");

    rlimit before{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 4096;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool saved = SaveResults(path, Numbered(10000), ResultFormat::List, &error);
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!saved);
    QCOMPARE(error, QStringLiteral("File too large"));
    QCOMPARE(ReadAll(path), QByteArray("old\r\n"));
    QCOMPARE(Entries(dir.path()), QStringList{"out.txt"});
}

void ResultWritersTest::diskFull() {
    if (::geteuid() != 0) {
        QSKIP("Mounting a small file system needs root");
    }
    QTemporaryDir dir;
    const QByteArray mountPoint = QFile::encodeName(dir.path());
    if (::mount("orlenta-test", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0) {
        QSKIP("A small file system cannot be mounted here");
    }
    const auto unmount =
        qScopeGuard([&mountPoint] { ::umount2(mountPoint.constData(), MNT_DETACH); });

    const QString path = dir.filePath(QStringLiteral("out.txt"));
    WriteFile(path, "old\r\n");
    for (const ResultFormat format : {ResultFormat::List, ResultFormat::CommaDelimited}) {
        QString error;
        QVERIFY(!SaveResults(path, Numbered(20000), format, &error));
        QCOMPARE(error, QStringLiteral("No space left on device"));
        QCOMPARE(ReadAll(path), QByteArray("old\r\n"));
        QCOMPARE(Entries(dir.path()), QStringList{"out.txt"});
    }
    // Once there is room again, the same save succeeds.
    QVERIFY(SaveResults(path, Numbered(10), ResultFormat::List));
}

// The comma-delimited line is complete before the file is opened; the hook runs once per
// address, before that address joins the line. The one-per-line save never yields.
void ResultWritersTest::hookRunsPerAddressBeforeTheFileIsTouched() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    WriteFile(path, "old\r\n");
    int calls = 0;
    bool fileUntouched = true;
    const AddressHook hook = [&] {
        ++calls;
        fileUntouched = fileUntouched && ReadAll(path) == "old\r\n";
        return true;
    };
    QVERIFY(SaveResults(path, {"a@b.com", "c@d.org", "e@f.net"}, ResultFormat::CommaDelimited,
                        nullptr, hook));
    QCOMPARE(calls, 3);
    QVERIFY(fileUntouched);
    QCOMPARE(ReadAll(path), QByteArray("a@b.com,c@d.org,e@f.net\r\n"));

    QVERIFY(SaveResults(path, {"a@b.com"}, ResultFormat::List, nullptr, hook));
    QCOMPARE(calls, 3);
    QVERIFY(SaveResults(path, {}, ResultFormat::CommaDelimited, nullptr, hook));
    QCOMPARE(calls, 3);
}

// Guards against a save that goes on writing after the window asked it to stop.
void ResultWritersTest::hookCanAbandon() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    WriteFile(path, "old\r\n");
    int calls = 0;
    QString error;
    QVERIFY(!SaveResults(path, Numbered(5), ResultFormat::CommaDelimited, &error,
                         [&calls] { return ++calls < 2; }));
    QCOMPARE(calls, 2);
    QVERIFY(!error.isEmpty());
    QCOMPARE(ReadAll(path), QByteArray("old\r\n"));
    QCOMPARE(Entries(dir.path()), QStringList{"out.txt"});
}

// Guards against the list changing under a save that yields: what is saved is the list as it
// stood when the save began.
void ResultWritersTest::snapshotSurvivesChangesDuringTheSave() {
    ResultsModel model;
    for (const std::string& address : Numbered(50)) {
        model.append(address);
    }
    const AddressSnapshot before = model.snapshot();
    const Addresses expected(before.begin(), before.end());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    int calls = 0;
    const AddressHook meddle = [&] {
        switch (++calls % 3) {
            case 0:
                model.clear();
                break;
            case 1:
                model.append("new@x.org");
                break;
            default:
                model.removeAt(0);
                break;
        }
        return true;
    };
    QVERIFY(SaveResults(path, model.snapshot(), ResultFormat::CommaDelimited, nullptr, meddle));
    QCOMPARE(calls, 50);
    QVERIFY(ParseSaved(ReadAll(path), ResultFormat::CommaDelimited) == expected);
}

QTEST_GUILESS_MAIN(ResultWritersTest)
#include "tst_result_writers.moc"
