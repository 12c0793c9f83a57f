// orlenta-extract as a user meets it: the bytes it writes, its messages and exit statuses.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Outcome Run(const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.start(QStringLiteral(ORLENTA_EXTRACT), arguments);
    if (!process.waitForStarted()) {
        return {};
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// Runs orlenta-extract in `folder` with arguments given as bytes: QProcess passes only what a
// QString holds, and file names need not be UTF-8. Standard output and error are caught in
// files beside `folder`.
Outcome RunIn(const QByteArray& folder, const QList<QByteArray>& arguments) {
    const QByteArray outPath = folder + ".out";
    const QByteArray errPath = folder + ".err";
    QList<QByteArray> words{ORLENTA_EXTRACT};
    words += arguments;
    std::vector<char*> argv;
    for (QByteArray& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in >= 0 && out >= 0 && err >= 0 && ::dup2(in, 0) == 0 && ::dup2(out, 1) == 1 &&
            ::dup2(err, 2) == 2 && ::chdir(folder.constData()) == 0) {
            ::execv(argv[0], argv.data());
        }
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return {};
    }
    Outcome outcome{WEXITSTATUS(status), {}, {}};
    QFile out(QFile::decodeName(outPath));
    QFile err(QFile::decodeName(errPath));
    if (out.open(QIODevice::ReadOnly) && err.open(QIODevice::ReadOnly)) {
        outcome.out = out.readAll();
        outcome.err = err.readAll();
    }
    ::unlink(outPath.constData());
    ::unlink(errPath.constData());
    return outcome;
}

// Runs orlenta-extract with its standard error on a pseudo-terminal in raw mode (no line-end
// translation), so that it takes standard error for a terminal. `input` is written in two
// halves `pause` apart. `err` is what the terminal received; with `outputToo` standard output
// goes there as well.
Outcome RunOnTerminal(const QStringList& arguments, const QByteArray& input = {},
                      std::chrono::milliseconds pause = {}, bool outputToo = false) {
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        return {};
    }
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    QProcess process;
    process.setChildProcessModifier([slave, outputToo] {
        ::dup2(slave, STDERR_FILENO);
        if (outputToo) {
            ::dup2(slave, STDOUT_FILENO);
        }
    });
    process.start(QStringLiteral(ORLENTA_EXTRACT), arguments);
    ::close(slave);
    Outcome outcome;
    if (process.waitForStarted()) {
        process.write(input.left(input.size() / 2));
        process.waitForBytesWritten();
        std::this_thread::sleep_for(pause);
        process.write(input.mid(input.size() / 2));
        process.closeWriteChannel();
        if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit) {
            outcome = {process.exitCode(), process.readAllStandardOutput(), {}};
        } else {
            process.kill();
            process.waitForFinished();
        }
    }
    // Everything the child wrote waits in the terminal; its end shows as EIO or no data.
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    char buffer[4096];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) {
        outcome.err.append(buffer, n);
    }
    ::close(master);
    return outcome;
}

// Runs a bash command line with $X standing for orlenta-extract.
Outcome RunInShell(const QString& command) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("X"), QStringLiteral(ORLENTA_EXTRACT));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("bash"), {QStringLiteral("-c"), command});
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// The progress line as drawn: "3 of 12 files, 1.40 MB read, 7 addresses, 5.20 MB/s".
const QRegularExpression ProgressText(QStringLiteral(
    R"(^\d+ of \d+ files, [\d.]+ k?M?G?B read, \d+ address(es)?, [\d.]+ [kMGT]?B/s$)"));

constexpr const char* ClearLine = "\r\033[K";

bool Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Makes replacing `path` fail while the file itself stays readable: as root, whom permissions do
// not stop, with the immutable attribute; otherwise by making it read-only. Undone on scope end.
class ReplaceBlocker final {
public:
    explicit ReplaceBlocker(const QString& path) : path_(path) {
        if (::geteuid() == 0) {
            const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
            int flags = 0;
            if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags |= FS_IMMUTABLE_FL;
                active_ = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
            }
            if (fd >= 0) {
                ::close(fd);
            }
            immutable_ = true;
        } else {
            active_ = ::chmod(QFile::encodeName(path).constData(), 0400) == 0;
        }
    }
    ~ReplaceBlocker() {
        if (!active_) {
            return;
        }
        if (immutable_) {
            const int fd = ::open(QFile::encodeName(path_).constData(), O_RDONLY);
            int flags = 0;
            if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags &= ~FS_IMMUTABLE_FL;
                ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
            }
            if (fd >= 0) {
                ::close(fd);
            }
        } else {
            ::chmod(QFile::encodeName(path_).constData(), 0600);
        }
    }
    ReplaceBlocker(const ReplaceBlocker&) = delete;
    ReplaceBlocker& operator=(const ReplaceBlocker&) = delete;

    bool active() const { return active_; }

private:
    QString path_;
    bool immutable_ = false;
    bool active_ = false;
};

// Makes `levels` folders of 200-character names one inside the other under `root`, each made
// relative to its parent, so that the deeper ones have paths longer than the system takes
// (PATH_MAX): they cannot be opened by their path, whoever asks, root included.
bool MakeTooDeepFolders(const QString& root, int levels) {
    int fd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY);
    const std::string name(200, 'd');
    for (int i = 0; i < levels && fd >= 0; ++i) {
        const int parent = fd;
        fd = ::mkdirat(parent, name.c_str(), 0700) == 0
                 ? ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY)
                 : -1;
        ::close(parent);
    }
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

// Removes a tree whose paths may be too long for QDir (rm walks it relative to each folder).
void RemoveTree(const QString& root) {
    QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), root});
}

}  // namespace

class OrlentaExtractTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void writesBothFormats_data();
    void writesBothFormats();
    void readsStandardInputInOrder();
    void standardInputIsChunkedLikeAFile();
    void pipesNamedAsPathsAreRead();
    void lineEnds_data();
    void lineEnds();
    void progressLine_data();
    void progressLine();
    void messagesStayClearOfTheProgressLine();
    void unreadablePathsAreNamedAndPassedOver();
    void everyThreadCountGivesTheSameBytes_data();
    void everyThreadCountGivesTheSameBytes();
    void foldersStandForTheirFiles();
    void unreadableFolderIsNamed();
    void namesNotUtf8ReadAsBytes();
    void usageErrors_data();
    void usageErrors();
    void helpAndVersion();
    void outputFileIsReplacedWhole();
    void outputFailureLeavesOldFileIntact();
    void outputIntoNonFolderFails();
    void outputTargets_data();
    void outputTargets();
    void samplesGiveTheirKnownAddresses();
    void slicesThenMergeGiveOneRun_data();
    void slicesThenMergeGiveOneRun();
    void mergeRefuses_data();
    void mergeRefuses();
    void slicesRefuseSourcesWithoutSize_data();
    void slicesRefuseSourcesWithoutSize();
    void reportRows_data();
    void reportRows();

private:
    // The inputs of the slice tests: a file larger than a slice (mixed-case repeats of its own
    // and the others' addresses), a smaller one, an empty one, a missing one, a folder.
    QStringList sliceInputs();
    // Runs the N slices of `arguments` with --partial; the partials' paths in slice order, or
    // nothing when a slice failed to write one. `errors` gets their standard errors, in order.
    QStringList runSlices(const QStringList& arguments, int count, const QString& prefix,
                          QByteArray* errors = nullptr);

    QString write(const QString& name, const QByteArray& content) {
        const QString path = dir_.filePath(name);
        return Write(path, content) ? path : QString();
    }
    QTemporaryDir dir_;
};

void OrlentaExtractTest::initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY2(QFile::exists(QStringLiteral(ORLENTA_EXTRACT)), ORLENTA_EXTRACT);
}

void OrlentaExtractTest::writesBothFormats_data() {
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QByteArray>("comma");

    QTest::newRow("three addresses")
        << QByteArray("Mail <Ann@Example.com>, bob@example.org.\r\n")
        << QByteArray("<a href=\"mailto:ann@example.COM\">x</a> cy@example.net bob@example.org")
        << QByteArray("Ann@Example.com\r\ncy@example.net\r\nbob@example.org\r\n")
        << QByteArray("Ann@Example.com,cy@example.net,bob@example.org\r\n");
    QTest::newRow("one address") << QByteArray("ann@example.com") << QByteArray()
                                 << QByteArray("ann@example.com\r\n")
                                 << QByteArray("ann@example.com\r\n");
    QTest::newRow("no address") << QByteArray("nothing here @ all.") << QByteArray() << QByteArray()
                                << QByteArray("\r\n");
}

void OrlentaExtractTest::writesBothFormats() {
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(QByteArray, list);
    QFETCH(QByteArray, comma);
    const QString a = write("first.txt", first);
    const QString b = write("second.html", second);

    Outcome outcome = Run({a, b});
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out, list);
    QCOMPARE(outcome.err, QByteArray());

    outcome = Run({"--comma", a, b});
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out, comma);
    QCOMPARE(outcome.err, QByteArray());
}

void OrlentaExtractTest::readsStandardInputInOrder() {
    const QString a = write("a.txt", "first@example.com same@example.com");
    const QString b = write("b.txt", "third@example.com");
    const Outcome outcome =
        Run({a, "-", b}, "SAME@example.com second@example.com third@EXAMPLE.com");
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out,
             QByteArray("first@example.com\r\nsame@example.com\r\nsecond@example.com\r\n"
                        "third@EXAMPLE.com\r\n"));
}

void OrlentaExtractTest::standardInputIsChunkedLikeAFile() {
    // Guards against pipe-sized reads moving the chunk borders of standard input.
    // Each chunk ends right after "...@example.com" of a longer address, so only the chunk
    // borders of a file make those heads appear.
    QByteArray content;
    for (int i = 0; i < 12; ++i) {
        const QByteArray head = "user" + QByteArray::number(i) + "@example.com";
        content += QByteArray((i + 1) * 30000 - content.size() - head.size(), ' ');
        content += head + "munity\r\n";
    }
    const QString path = write("chunks.txt", content);
    const Outcome fromFile = Run({path});
    const Outcome fromInput = Run({"-"}, content);
    QCOMPARE(fromFile.exitCode, 0);
    QCOMPARE(fromInput.exitCode, 0);
    QVERIFY(fromFile.out.startsWith("user0@example.com\r\nuser1@example.com\r\n"));
    QCOMPARE(fromInput.out, fromFile.out);
}

void OrlentaExtractTest::pipesNamedAsPathsAreRead() {
    // Guards against pipes named as paths being refused, read as empty or cut at pipe-sized
    // reads; devices stay refused (see unreadablePathsAreNamedAndPassedOver).
    Outcome outcome = RunInShell(R"($X <(printf 'x a@example.com y\r\n'))");
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out, QByteArray("a@example.com\r\n"));
    QCOMPARE(outcome.err, QByteArray());

    outcome = Run({"/dev/stdin"}, "from@example.com stdin@example.com");
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out, QByteArray("from@example.com\r\nstdin@example.com\r\n"));

    // A FIFO whose writer comes after the reader has started, between two files.
    const QString fifo = dir_.filePath("fifo");
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const QString before = write("before.txt", "one@example.com");
    const QString after = write("after.txt", "three@example.com TWO@example.com");
    outcome = RunInShell(QStringLiteral("(sleep 0.2; printf 'two@example.com\\r\\n' > '%1') & "
                                        "$X '%2' '%1' '%3'; status=$?; wait; exit $status")
                             .arg(fifo, before, after));
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out,
             QByteArray("one@example.com\r\ntwo@example.com\r\nthree@example.com\r\n"));

    // Read in chunks exactly as the file would be: each chunk border falls inside an address.
    QByteArray content;
    for (int i = 0; i < 5; ++i) {
        const QByteArray head = "user" + QByteArray::number(i) + "@example.com";
        content += QByteArray((i + 1) * 30000 - content.size() - head.size(), ' ');
        content += head + "munity\r\n";
    }
    const QString path = write("borders.txt", content);
    const Outcome fromFile = Run({path});
    outcome = RunInShell(QStringLiteral("$X <(cat '%1')").arg(path));
    QCOMPARE(outcome.exitCode, 0);
    QVERIFY(fromFile.out.startsWith("user0@example.com\r\n"));
    QCOMPARE(outcome.out, fromFile.out);
}

void OrlentaExtractTest::lineEnds_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("byDefault");
    QTest::addColumn<QByteArray>("withLf");

    const QByteArray both = "ann@example.com\r\nbob@example.org\r\n";
    QTest::newRow("CR LF") << QByteArray("ann@example.com\r\nbob@example.org\r\n") << both << both;
    QTest::newRow("CR") << QByteArray("ann@example.com\rbob@example.org\r") << both << both;
    QTest::newRow("lone LF") << QByteArray("ann@example.com\nbob@example.org\n") << QByteArray()
                             << both;
    QTest::newRow("mixed") << QByteArray("ann@example.com\r\n\nbob@example.org\ncy@example.net")
                           << QByteArray("ann@example.com\r\n") << both + "cy@example.net\r\n";
}

void OrlentaExtractTest::lineEnds() {
    // Guards --lf, and the default staying as the window's (a lone LF ends no token).
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, byDefault);
    QFETCH(QByteArray, withLf);
    const QString path = write("line-ends.txt", input);
    for (const QStringList& arguments : {QStringList{"-"}, QStringList{path}}) {
        Outcome outcome = Run(arguments, input);
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(outcome.out, byDefault);
        outcome = Run(QStringList{"--lf"} + arguments, input);
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(outcome.out, withLf);
    }
}

void OrlentaExtractTest::progressLine_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<int>("pauseMs");  // between the two halves of standard input
    QTest::addColumn<bool>("shown");

    QTest::newRow("asked, on a terminal") << QStringList{"--progress"} << true << 0 << true;
    QTest::newRow("asked, not a terminal") << QStringList{"--progress"} << false << 0 << true;
    QTest::newRow("slow run on a terminal") << QStringList{} << true << 1300 << true;
    QTest::newRow("quick run on a terminal") << QStringList{} << true << 0 << false;
    QTest::newRow("slow run, not a terminal") << QStringList{} << false << 1300 << false;
    QTest::newRow("slow run, addresses onto the same terminal")
        << QStringList{"-o", "-"} << true << 1300 << false;
}

void OrlentaExtractTest::progressLine() {
    // Guards the progress line: when it shows, its shape, its final state and the newline that
    // ends it, and that it never reaches standard output.
    QFETCH(QStringList, options);
    QFETCH(bool, terminal);
    QFETCH(int, pauseMs);
    QFETCH(bool, shown);
    const QString file = write("progress.txt", QByteArray(59983, ' ') + " ann@example.com ");
    const QByteArray input = QByteArray(10000, ' ') + "bob@example.org" + QByteArray(9985, ' ');
    const QStringList arguments = options + QStringList{file, "-"};
    // Addresses written to standard output go to the terminal too when they are named so.
    const bool outputToo = options.contains("-");
    Outcome outcome;
    if (terminal) {
        outcome = RunOnTerminal(arguments, input, std::chrono::milliseconds(pauseMs), outputToo);
        if (outputToo) {
            std::swap(outcome.out, outcome.err);
        }
    } else {
        QProcess process;
        process.start(QStringLiteral(ORLENTA_EXTRACT), arguments);
        QVERIFY(process.waitForStarted());
        process.write(input.left(input.size() / 2));
        process.waitForBytesWritten();
        QTest::qSleep(pauseMs);
        process.write(input.mid(input.size() / 2));
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(60000));
        outcome = {process.exitCode(), process.readAllStandardOutput(),
                   process.readAllStandardError()};
    }
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out, QByteArray("ann@example.com\r\nbob@example.org\r\n"));
    if (!shown) {
        QCOMPARE(outcome.err, QByteArray());
        return;
    }
    // Only drawings of the line, each starting afresh, the last one complete, then a newline.
    QVERIFY2(outcome.err.startsWith(ClearLine), outcome.err.constData());
    QVERIFY2(outcome.err.endsWith("\n"), outcome.err.constData());
    QCOMPARE(outcome.err.count('\n'), 1);
    const QList<QByteArray> drawings = outcome.err.chopped(1).split('\r');
    for (const QByteArray& drawing : drawings.mid(1)) {
        QVERIFY2(drawing.startsWith("\033[K"), drawing.constData());
        QVERIFY2(ProgressText.match(QString::fromLatin1(drawing.mid(3))).hasMatch(),
                 drawing.constData());
    }
    QVERIFY2(drawings.last().startsWith("\033[K2 of 2 files, 80.0 kB read, 2 addresses, "),
             drawings.last().constData());
}

void OrlentaExtractTest::messagesStayClearOfTheProgressLine() {
    // Guards against a message being written into the middle of the progress line.
    const QString a = write("a.txt", "ann@example.com");
    const QString missing = dir_.filePath("missing.txt");
    const QString b = write("b.txt", "bob@example.org");
    const Outcome outcome = RunOnTerminal({"--progress", a, missing, b});
    QCOMPARE(outcome.exitCode, 1);
    const QByteArray message =
        "orlenta-extract: " + QFile::encodeName(missing) + ": No such file or directory";
    const QList<QByteArray> lines = outcome.err.split('\n');
    QCOMPARE(lines.size(), 3);  // the message, the final progress line, nothing after it
    QVERIFY2(lines[0].endsWith(ClearLine + message), lines[0].constData());
    QVERIFY2(lines[1].startsWith(ClearLine), lines[1].constData());
    QVERIFY2(lines[1].endsWith(ClearLine + QByteArray("3 of 3 files, 30 B read, 2 addresses, ") +
                               lines[1].mid(lines[1].lastIndexOf(", ") + 2)),
             lines[1].constData());
    QCOMPARE(lines[2], QByteArray());
}

void OrlentaExtractTest::unreadablePathsAreNamedAndPassedOver() {
    const QString a = write("good.txt", "ann@example.com");
    const QString missing = dir_.filePath("missing.txt");
    const QString folder = dir_.filePath("empty folder");
    QVERIFY(QDir().mkpath(folder));  // stands for its files: none
    const Outcome outcome = Run({missing, a, folder, "/dev/zero"});
    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(outcome.out, QByteArray("ann@example.com\r\n"));
    const QByteArray expected = "orlenta-extract: " + QFile::encodeName(missing) +
                                ": No such file or directory\n" +
                                "orlenta-extract: /dev/zero: not a regular file\n";
    QCOMPARE(outcome.err, expected);
}

void OrlentaExtractTest::everyThreadCountGivesTheSameBytes_data() {
    QTest::addColumn<QString>("threads");
    QTest::addColumn<QString>("format");
    // -j 8 and -j 64 run more threads than this machine has cores, and than there are chunks.
    for (const char* threads : {"2", "3", "8", "64"}) {
        QTest::addRow("-j %s", threads) << threads << "--all";
        QTest::addRow("-j %s, comma", threads) << threads << "--comma";
    }
    // Decoding happens as the sources are read: the spool's split must not change its text.
    QTest::addRow("-j 2, mail") << "2"
                                << "--mail";
}

void OrlentaExtractTest::everyThreadCountGivesTheSameBytes() {
    QFETCH(QString, threads);
    QFETCH(QString, format);
    QByteArray large;
    for (int i = 0; large.size() < 2500000; ++i) {
        large += "line " + QByteArray::number(i) + ": <U" + QByteArray::number(i % 5000) +
                 (i % 3 ? "@Example.com>, " : "@example.COM>\r\n");
    }
    const QString big = write("big.txt", large);
    QByteArray spool;
    for (int i = 0; spool.size() < 1500000; ++i) {
        spool += "From u" + QByteArray::number(i) + "@example.org Mon Jun  3 10:00:00 2024\n" +
                 "From: =?UTF-8?Q?U?= <u" + QByteArray::number(i) +
                 "@example.org>\nContent-Transfer-Encoding: quoted-printable\n\nto =3Dv" +
                 QByteArray::number(i % 7000) + "@exa=\nmple.com, a long line of text\n\n";
    }
    const QString inbox = write("Inbox", spool);
    const QString folder = dir_.filePath("threads");
    QVERIFY(QDir().mkpath(folder));
    for (int i = 0; i < 150; ++i) {
        QVERIFY(Write(folder + QString("/f%1.txt").arg(i, 3, 10, QLatin1Char('0')),
                      i % 40 == 0 ? QByteArray()
                                  : "u" + QByteArray::number(i * 37 % 6000) + "@EXAMPLE.com "));
    }
    const QStringList arguments = {format,      folder, dir_.filePath("gone.txt"), "-", big, inbox,
                                   "/dev/zero", folder};
    const QByteArray input = "U77@example.com U5001@example.com\r\n";
    const Outcome oneThread = Run(QStringList{"-j", "1"} + arguments, input);
    const Outcome outcome = Run(QStringList{"-j", threads} + arguments, input);
    QCOMPARE(oneThread.exitCode, 1);
    QVERIFY(oneThread.out.count('@') > 5000);
    QCOMPARE(outcome.exitCode, oneThread.exitCode);
    QCOMPARE(outcome.err, oneThread.err);
    QVERIFY(outcome.out == oneThread.out);
}

void OrlentaExtractTest::foldersStandForTheirFiles() {
    const QString root = dir_.filePath("mail");
    QVERIFY(QDir().mkpath(root + "/sub"));
    QVERIFY(Write(root + "/a.txt", "a@example.com"));
    QVERIFY(Write(root + "/e.csv", "e@example.com"));
    QVERIFY(Write(root + "/~tmp.txt", "tmp@example.com"));
    QVERIFY(Write(root + "/sub/b.html", "b@example.com A@EXAMPLE.COM"));
    const QString single = write("single.txt", "s@example.com");

    // The folder's own files first, then its subfolder's; the argument order around it kept.
    Outcome outcome = Run({single, root});
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out, QByteArray("s@example.com\r\na@example.com\r\nb@example.com\r\n"));
    QCOMPARE(outcome.err, QByteArray());

    outcome = Run({"--all", root, single});
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out, QByteArray("a@example.com\r\ne@example.com\r\nb@example.com\r\n"
                                     "s@example.com\r\n"));

    // With --mail, files that are mails by content come too, whatever their names: a
    // Thunderbird folder's mbox file, not its index beside it.
    QVERIFY(Write(root + "/Inbox",
                  "From x@example.org Mon Jun  3 10:00:00 2024\r\nFrom: "
                  "x@example.org\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                      QByteArray("to m@example.org").toBase64() + "\r\n"));
    QVERIFY(Write(root + "/Inbox.msf", "// <!-- <mdb:mork:z v=\"1.4\"/> -->\nmsf@example.com\n"));
    outcome = Run({"--mail", root});
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out, QByteArray("a@example.com\r\nx@example.org\r\nm@example.org\r\n"
                                     "b@example.com\r\n"));
}

void OrlentaExtractTest::unreadableFolderIsNamed() {
    QTemporaryDir scratch;
    const QString root = scratch.filePath("tree");
    QVERIFY(QDir().mkpath(root + "/near"));
    QVERIFY(Write(root + "/a.txt", "a@example.com"));
    QVERIFY(Write(root + "/near/b.txt", "b@example.com"));
    const bool made = MakeTooDeepFolders(root, 24);
    const Outcome outcome = made ? Run({root}) : Outcome{};
    RemoveTree(root);
    QVERIFY(made);

    // The rest is read; the folder that could not be walked is named, and the status says so.
    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(outcome.out, QByteArray("a@example.com\r\nb@example.com\r\n"));
    const QByteArray prefix = "orlenta-extract: " + QFile::encodeName(root) + "/ddd";
    QVERIFY2(outcome.err.startsWith(prefix), outcome.err.constData());
    QVERIFY2(outcome.err.endsWith(": " + QByteArray(std::strerror(ENAMETOOLONG)) + "\n"),
             outcome.err.constData());
    QCOMPARE(outcome.err.count('\n'), 1);
}

// Guards against arguments and folder entries whose names are not UTF-8 being turned into
// text and back, which names other files ("caf\357\277\275.txt").
void OrlentaExtractTest::namesNotUtf8ReadAsBytes() {
    QTemporaryDir scratch;
    const QByteArray folder = QFile::encodeName(scratch.path());
    const QByteArray at = folder + '/';
    QCOMPARE(::mkdir(at + "t", 0700), 0);
    QCOMPARE(::mkdir(at + "dir\xe9", 0700), 0);
    const auto writeBytes = [](const QByteArray& path, const QByteArray& bytes) {
        std::FILE* file = std::fopen(path, "wb");
        const bool written = file != nullptr && std::fputs(bytes, file) >= 0;
        return file != nullptr && std::fclose(file) == 0 && written;
    };
    QVERIFY(writeBytes(at + "t/caf\xe9.txt", "x@example.org\r\n"));
    QVERIFY(writeBytes(at + "dir\xe9/a.txt", "y@example.org\r\n"));
    QVERIFY(writeBytes(at + "r\xe9sum\xe9.txt", "z@example.org\r\n"));

    const Outcome outcome = RunIn(folder, {"t", "dir\xe9", "r\xe9sum\xe9.txt", "gone\xe9.txt"});
    for (const char* name : {"t/caf\xe9.txt", "dir\xe9/a.txt", "r\xe9sum\xe9.txt"}) {
        ::unlink(at + name);  // QTemporaryDir removes only names that QString can carry
    }
    ::rmdir(at + "dir\xe9");
    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(outcome.out, QByteArray("x@example.org\r\ny@example.org\r\nz@example.org\r\n"));
    // Named with its own bytes, as other tools do.
    QCOMPARE(outcome.err, QByteArray("orlenta-extract: gone\xe9.txt: No such file or directory\n"));
}

void OrlentaExtractTest::usageErrors_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("no arguments") << QStringList{} << QByteArray("no input files");
    QTest::newRow("unknown option")
        << QStringList{"--bogus", "a"} << QByteArray("unknown option '--bogus'");
    QTest::newRow("-o without a file")
        << QStringList{"a", "-o"} << QByteArray("-o needs a file name");
    QTest::newRow("no threads") << QStringList{"-j", "0", "a"}
                                << QByteArray("-j needs a number of threads, 1 or more");
    QTest::newRow("slice past the count")
        << QStringList{"--slice", "4/3", "a"}
        << QByteArray("--slice needs K/N, 1 <= K <= N (e.g. --slice 2/3)");
    // A report asked of a slice, or columns of no partial, were silently not written.
    QTest::newRow("report columns without a partial")
        << QStringList{"--slice", "1/2", "--report-columns", "a"}
        << QByteArray("--report-columns needs --partial FILE, which carries them");
    QTest::newRow("slice with a report")
        << QStringList{"--slice", "1/2", "--report", "r.csv", "a"}
        << QByteArray(
               "--report cannot go with --slice or --partial: give the slices "
               "--report-columns and --merge --report FILE");
    // Two outputs in one file, or an output over an input, lost one of them with status 0.
    const QString input = write("kept input.txt", "ann@example.com\r\n");
    const QString same = dir_.filePath("same.txt");
    const QString sameAgain = dir_.path() + "/./same.txt";
    QTest::newRow("-o and --report one file")
        << QStringList{"-o", same, "--report", sameAgain, input}
        << ("-o " + QFile::encodeName(same) + " and --report " + QFile::encodeName(sameAgain) +
            " are one file: one would lose the other");
    QTest::newRow("report over an input")
        << QStringList{"--report", input, input}
        << ("--report names the input " + QFile::encodeName(input) + ", which it would replace");
    QTest::newRow("merge over a partial")
        << QStringList{"--merge", "-o", input, input}
        << ("-o names the partial " + QFile::encodeName(input) + ", which it would replace");
    QTest::newRow("merge with a slice's option")
        << QStringList{"--merge", "--lf", "a.part"}
        << QByteArray(
               "--merge takes only -o, --comma and --report (the slices' options are in their "
               "partial files)");
}

void OrlentaExtractTest::usageErrors() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);
    const Outcome outcome = Run(arguments);
    QCOMPARE(outcome.exitCode, 2);
    QCOMPARE(outcome.out, QByteArray());
    QCOMPARE(outcome.err, "orlenta-extract: " + message +
                              "\nusage: orlenta-extract [--comma] [--all] [--lf] [--unpack] "
                              "[--mail] [--progress] [-j N] [--memory SIZE] [-o FILE] [--report "
                              "FILE] PATH...\n");
}

void OrlentaExtractTest::helpAndVersion() {
    Outcome outcome = Run({"--help"});
    QCOMPARE(outcome.exitCode, 0);
    QVERIFY(outcome.out.startsWith(
        "usage: orlenta-extract [--comma] [--all] [--lf] [--unpack] [--mail] [--progress] [-j N] "
        "[--memory SIZE] [-o FILE] [--report FILE] PATH...\n"));
    for (const char* option :
         {"--comma", "--all", "--lf", "--progress", "-j N", "-o FILE", "--help", "--version"}) {
        QVERIFY2(outcome.out.contains(option), option);
    }
    QCOMPARE(outcome.err, QByteArray());

    outcome = Run({"--version"});
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out, QByteArray("orlenta-extract " ORLENTA_VERSION "\n"));
}

void OrlentaExtractTest::outputFileIsReplacedWhole() {
    const QString input = write("in.txt", "ann@example.com bob@example.org");
    const QString output = write("out.txt", QByteArray(10000, 'o'));
    Outcome outcome = Run({"-o", output, input});
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out, QByteArray());
    QCOMPARE(Read(output), QByteArray("ann@example.com\r\nbob@example.org\r\n"));

    outcome = Run({"--comma", input, "-o", output});
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(Read(output), QByteArray("ann@example.com,bob@example.org\r\n"));

    // Even with an unreadable input the others' addresses are saved, and the status says so.
    outcome = Run({"-o", output, dir_.filePath("nothing-here"), input});
    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(Read(output), QByteArray("ann@example.com\r\nbob@example.org\r\n"));
}

void OrlentaExtractTest::outputFailureLeavesOldFileIntact() {
    QTemporaryDir folder;
    const QString input = write("in2.txt", "ann@example.com");
    const QString output = folder.filePath("kept.txt");
    const QByteArray old = "old content, every byte of it\r\n";
    QVERIFY(Write(output, old));
    Outcome outcome;
    {
        ReplaceBlocker blocker(output);
        if (!blocker.active()) {
            QSKIP("cannot make the output file unreplaceable here");
        }
        outcome = Run({"-o", output, input});
    }
    QCOMPARE(outcome.exitCode, 1);
    QVERIFY2(outcome.err.startsWith("orlenta-extract: " + QFile::encodeName(output) + ": "),
             outcome.err.constData());
    QCOMPARE(Read(output), old);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"kept.txt"});
}

void OrlentaExtractTest::outputIntoNonFolderFails() {
    // A path whose parent is a regular file fails for every user, root included.
    const QString input = write("in3.txt", "ann@example.com");
    const QString parent = write("plain-file", "x");
    const QString output = parent + "/out.txt";
    const Outcome outcome = Run({input, "-o", output});
    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(outcome.out, QByteArray());
    QVERIFY2(outcome.err.startsWith("orlenta-extract: " + QFile::encodeName(output) + ": "),
             outcome.err.constData());
    QCOMPARE(Read(parent), QByteArray("x"));
}

void OrlentaExtractTest::outputTargets_data() {
    QTest::addColumn<QByteArray>("output");  // the -o argument, in a folder of its own
    QTest::addColumn<mode_t>("kind");        // what it must still be afterwards; 0: nothing
    QTest::newRow("- is standard output") << QByteArray("-") << mode_t(0);
    QTest::newRow("name not UTF-8") << QByteArray("out\xe9.txt") << mode_t(S_IFREG);
    QTest::newRow("device node") << QByteArray("node") << mode_t(S_IFCHR);
    QTest::newRow("FIFO with a reader") << QByteArray("fifo") << mode_t(S_IFIFO);
    QTest::newRow("symbolic link") << QByteArray("link") << mode_t(S_IFLNK);
}

// Guards against -o writing a file named "-", replacing a device node, FIFO or link with a
// regular file, or writing under another name than the bytes given.
void OrlentaExtractTest::outputTargets() {
    QFETCH(QByteArray, output);
    QFETCH(mode_t, kind);
    QTemporaryDir scratch;
    const QByteArray folder = QFile::encodeName(scratch.filePath("run"));
    QVERIFY(QDir().mkpath(scratch.filePath("run")));
    const QByteArray at = folder + '/';
    QVERIFY(Write(scratch.filePath("run/in.txt"), "ann@example.com"));
    QCOMPARE(::symlink("target.txt", at + "link"), 0);
    QCOMPARE(::mkfifo(at + "fifo", 0600), 0);
    if (kind == S_IFCHR && ::mknod(at + "node", S_IFCHR | 0666, makedev(1, 3)) != 0) {
        QSKIP("Making a device node needs root");
    }
    const int reader = ::open(at + "fifo", O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);

    const Outcome outcome = RunIn(folder, {"-o", output, "in.txt"});
    char fromFifo[64] = {};
    const ssize_t fifoBytes = ::read(reader, fromFifo, sizeof fromFifo);
    ::close(reader);
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.err, QByteArray());
    const QByteArray expected = "ann@example.com\r\n";
    QCOMPARE(outcome.out, kind == 0 ? expected : QByteArray());
    struct stat status {};
    QCOMPARE(::lstat(at + output, &status) == 0 ? status.st_mode & S_IFMT : 0, kind);
    if (kind == S_IFIFO) {
        QCOMPARE(QByteArray(fromFifo, int(fifoBytes)), expected);
    } else if (kind == S_IFREG || kind == S_IFLNK) {
        QFile written;
        std::FILE* stream = std::fopen(at + output, "rb");
        QVERIFY(stream != nullptr && written.open(stream, QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), expected);
        std::fclose(stream);
        ::unlink(at + output);  // QTemporaryDir removes only names that QString can carry
    }
}

void OrlentaExtractTest::samplesGiveTheirKnownAddresses() {
    // The sample files show every rule at work (duplicates in other case, near-misses); the
    // expected list was checked by hand, address by address.
    const QString samples = QStringLiteral(ORLENTA_SOURCE_DIR "/samples/");
    const Outcome outcome =
        Run({samples + "contacts.txt", samples + "team.html", samples + "newsletter.txt"});
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out,
             Read(QStringLiteral(ORLENTA_SOURCE_DIR "/tests/cli/data/samples-expected.txt")));
}

QStringList OrlentaExtractTest::sliceInputs() {
    QByteArray large;
    for (int i = 0; large.size() < 2600000; ++i) {
        large += "row " + QByteArray::number(i) + ": <U" + QByteArray::number(i * 7 % 9000) +
                 (i % 3 ? "@Example.com>, " : "@example.COM>\r\n");
    }
    QByteArray middle;
    for (int i = 0; middle.size() < 200000; ++i) {
        middle += "u" + QByteArray::number(i * 13 % 12000) + "@EXAMPLE.com late" +
                  QByteArray::number(i) + "@example.net\r\n";
    }
    const QString folder = dir_.filePath("slice-folder");
    if (!QDir().mkpath(folder)) {
        return {};
    }
    for (int i = 0; i < 40; ++i) {
        Write(folder + QString("/f%1.txt").arg(i, 2, 10, QLatin1Char('0')),
              "U" + QByteArray::number(i * 211 % 9000) + "@example.com F" + QByteArray::number(i) +
                  "@folder.org\r\n");
    }
    return {write("slice-small.txt", "first@example.org U7@EXAMPLE.COM\r\n"),
            write("slice-large.txt", large),
            write("slice-empty.txt", {}),
            dir_.filePath("slice-missing.txt"),
            write("slice-middle.txt", middle),
            folder,
            write("slice-last.txt", "LATE5@example.NET last@example.org\r\n")};
}

QStringList OrlentaExtractTest::runSlices(const QStringList& arguments, int count,
                                          const QString& prefix, QByteArray* errors) {
    QStringList partials;
    for (int k = 1; k <= count; ++k) {
        const QString partial = dir_.filePath(QString("%1-%2.part").arg(prefix).arg(k));
        const Outcome slice =
            Run(QStringList{"--slice", QString("%1/%2").arg(k).arg(count), "--partial", partial} +
                arguments);
        // --partial without -o: nothing on standard output.
        if (!slice.out.isEmpty() || !QFile::exists(partial)) {
            return {};
        }
        if (errors != nullptr) {
            *errors += slice.err;
        }
        partials << partial;
    }
    return partials;
}

void OrlentaExtractTest::slicesThenMergeGiveOneRun_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("threads");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("report");  // --report of the one run and the merge
    // Each row guards the merge against slices cut wrong, a cut file read in other chunks, a
    // first spelling of a later slice kept, or a skipped source named twice or never.
    for (int count : {1, 2, 3, 7}) {
        for (const char* threads : {"1", "2"}) {
            QTest::addRow("%d slices, -j %s", count, threads)
                << count << threads << "--all" << QString();
        }
    }
    // Past 8 slices the merge orders the indexes' heads with a heap instead of a scan.
    QTest::newRow("9 slices, -j 2") << 9 << "2"
                                    << "--all" << QString();
    QTest::newRow("3 slices, comma") << 3 << "2"
                                     << "--comma" << QString();
    QTest::newRow("3 slices, --lf") << 3 << "1"
                                    << "--lf" << QString();
    // The large file is cut across the slices with addresses on every side: a report guards
    // against a cut source counted once a slice, offsets from the slice's start, or a later
    // slice's first place kept.
    QTest::newRow("1 slice, report") << 1 << "2"
                                     << "--all"
                                     << "report.csv";
    QTest::newRow("3 slices, report") << 3 << "2"
                                      << "--all"
                                      << "report.csv";
    QTest::newRow("3 slices, JSON Lines report") << 3 << "1"
                                                 << "--all"
                                                 << "report.jsonl";
}

void OrlentaExtractTest::slicesThenMergeGiveOneRun() {
    QFETCH(int, count);
    QFETCH(QString, threads);
    QFETCH(QString, option);
    QFETCH(QString, report);
    const QStringList inputs = sliceInputs();
    QVERIFY(!inputs.isEmpty());
    QStringList format = option == "--comma" ? QStringList{option} : QStringList{};
    QStringList slicing = option == "--comma" ? QStringList{} : QStringList{option};
    const QString oneReport = dir_.filePath("one-" + report);
    const QString mergedReport = dir_.filePath("merged-" + report);
    const Outcome one =
        Run(QStringList{"-j", threads, option} +
            (report.isEmpty() ? QStringList{} : QStringList{"--report", oneReport}) + inputs);
    QCOMPARE(one.exitCode, 1);  // the missing file
    QVERIFY(one.out.count('@') > 9000);

    if (!report.isEmpty()) {
        slicing << "--report-columns";
        format << "--report" << mergedReport;
    }
    QByteArray errors;
    const QStringList partials =
        runSlices(QStringList{"-j", threads} + slicing + inputs, count, "ok", &errors);
    QCOMPARE(partials.size(), count);
    QCOMPARE(errors, one.err);  // the missing file named once, by the slice holding its place
    const QString merged = dir_.filePath("merged.out");
    const Outcome merge = Run(QStringList{"--merge", "-o", merged} + format + partials);
    QCOMPARE(merge.err, QByteArray());
    QCOMPARE(merge.exitCode, one.exitCode);
    QVERIFY(Read(merged) == one.out);
    if (!report.isEmpty()) {
        QVERIFY(Read(oneReport).count('\n') > 9000);
        QVERIFY(Read(mergedReport) == Read(oneReport));
    }
}

void OrlentaExtractTest::mergeRefuses_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("named");  // which partial the message names
    QTest::addColumn<QByteArray>("reason");

    QTest::newRow("another format version")
        << "version" << 1 << QByteArray("format version 3 of partial results");
    QTest::newRow("truncated") << "truncate" << 1 << QByteArray("truncated");
    QTest::newRow("corrupt") << "flip" << 1 << QByteArray("corrupt: its checksum does not match");
    // The first slice's records are formatted ahead, the last ones' beside the others.
    QTest::newRow("first slice's records corrupt") << "flip first" << 0 << QByteArray("corrupt");
    QTest::newRow("last slice's records corrupt") << "flip last" << 2 << QByteArray("corrupt");
    QTest::newRow("not a partial") << "text" << 1 << QByteArray("not a partial result");
    QTest::newRow("another input list")
        << "list" << 1 << QByteArray("made from another input list");
    QTest::newRow("other options") << "options" << 1 << QByteArray("made with other options");
    QTest::newRow("slice missing") << "missing" << -1 << QByteArray("slice 3/3 is missing");
    QTest::newRow("slice repeated")
        << "repeat" << 2 << QByteArray("holds slice 2/3 where slice 3/3 belongs");
    QTest::newRow("out of order") << "swap" << 1
                                  << QByteArray("holds slice 3/3 where slice 2/3 belongs");
    QTest::newRow("a report from slices without report columns")
        << "columns" << 0 << QByteArray("has no report columns");
}

// Each row guards against a merge that writes from partials that cannot make one run's output.
void OrlentaExtractTest::mergeRefuses() {
    QFETCH(QString, damage);
    QFETCH(int, named);
    QFETCH(QByteArray, reason);
    const QStringList inputs = sliceInputs();
    QStringList partials = runSlices(inputs, 3, "refuse");
    QCOMPARE(partials.size(), 3);
    const int damaged = damage == "flip first" ? 0 : damage == "flip last" ? 2 : 1;
    QByteArray bytes = Read(partials[damaged]);
    if (damage == "version") {
        bytes[16] = 3;
    } else if (damage == "truncate") {
        bytes.chop(100);
    } else if (damage == "flip") {
        bytes[bytes.size() / 2] = bytes[bytes.size() / 2] ^ 0x20;
    } else if (damage.startsWith("flip ")) {
        bytes[200] = bytes[200] ^ 0x20;  // past the header: in the records
    } else if (damage == "text") {
        bytes = "ann@example.com\r\n";
    } else if (damage == "list" || damage == "options") {
        const QStringList other = damage == "list" ? inputs.mid(1) : QStringList{"--lf"} + inputs;
        const QStringList made = runSlices(other, 3, "other");
        QCOMPARE(made.size(), 3);
        bytes = Read(made[1]);
    }
    QVERIFY(Write(partials[damaged], bytes));
    if (damage == "missing") {
        partials.removeLast();
    } else if (damage == "repeat") {
        partials[2] = partials[1];
    } else if (damage == "swap") {
        partials.swapItemsAt(1, 2);
    }
    const QString output = write("kept.out", "old content\r\n");
    const QString report = dir_.filePath("refused-report.csv");
    const QStringList reporting =
        damage == "columns" ? QStringList{"--report", report} : QStringList{};
    for (const QStringList& format : {QStringList{"-o", output}, QStringList{}}) {
        const Outcome merge = Run(QStringList{"--merge"} + format + reporting + partials);
        QCOMPARE(merge.exitCode, 1);
        QCOMPARE(merge.out, QByteArray());  // standard output too: nothing of a refused merge
        const QByteArray prefix =
            "orlenta-extract: " +
            (named < 0 ? QByteArray("--merge") : QFile::encodeName(partials[named])) + ": ";
        QVERIFY2(merge.err.startsWith(prefix) && merge.err.contains(reason), merge.err.constData());
        QCOMPARE(Read(output), QByteArray("old content\r\n"));
        QVERIFY(!QFile::exists(report));
    }
}

void OrlentaExtractTest::slicesRefuseSourcesWithoutSize_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("message");
    // Each row guards against a slice reading a stream whose bytes no other slice can see.
    QTest::newRow("standard input")
        << "echo a@example.com | $X --slice 1/2 --partial \"$P\" -"
        << QByteArray(
               "orlenta-extract: standard input cannot be cut into slices: it has no size\n");
    QTest::newRow("pipe named as a path")
        << "$X --partial \"$P\" <(echo a@example.com)"
        << QByteArray(": a pipe cannot be cut into slices: it has no size\n");
}

void OrlentaExtractTest::slicesRefuseSourcesWithoutSize() {
    QFETCH(QString, command);
    QFETCH(QByteArray, message);
    const QString partial = dir_.filePath("stream.part");
    const Outcome outcome = RunInShell("P='" + partial + "'; " + command);
    QCOMPARE(outcome.exitCode, 2);
    QVERIFY2(outcome.err.endsWith(message), outcome.err.constData());
    QVERIFY(!QFile::exists(partial));
}

void OrlentaExtractTest::reportRows_data() {
    // Sources as NAME=CONTENT, read in order; a name "fifo" is a FIFO nobody writes to.
    QTest::addColumn<QList<QByteArray>>("sources");
    QTest::addColumn<QByteArray>("report");  // the --report target, in the run's folder
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("expected");  // the report's bytes; the message when refused
    QTest::addColumn<QByteArray>("memory");    // --memory, when given

    const QByteArray header = "address,occurrences,sources,first_source,offset\r\n";
    QTest::newRow("mixed case over files: counts are sums, first spelling, source and offset")
        << QList<QByteArray>{"a.txt=x Ann@Example.com y\r\nann@example.com",
                             "b.txt=bob@example.org ANN@EXAMPLE.COM ann@example.com"}
        << QByteArray("r.csv") << 0
        << header + "Ann@Example.com,4,2,a.txt,2\r\nbob@example.org,1,1,b.txt,0\r\n"
        << QByteArray();
    QTest::newRow("names with commas and quotes: quoted, quotes doubled (RFC 4180)")
        << QList<QByteArray>{"a,b.txt=ann@example.com", "say \"hi\".txt=bob@example.org"}
        << QByteArray("r.csv") << 0
        << header +
               "ann@example.com,1,1,\"a,b.txt\",0\r\nbob@example.org,1,1,\"say "
               "\"\"hi\"\".txt\",0\r\n"
        << QByteArray();
    QTest::newRow("newline and control bytes in a name: escaped as in messages, no line broken")
        << QList<QByteArray>{"a\nb\x01\x1b,.txt=ann@example.com"} << QByteArray("r.csv") << 0
        << header + "ann@example.com,1,1,\"a\\nb\\001\\033,.txt\",0\r\n"
        << QByteArray();
    QTest::newRow("JSON Lines: a name not UTF-8 as \\ooo, UTF-8 and quotes kept valid")
        << QList<QByteArray>{"caf\xe9 \xc3\xbc\"q\\.txt=Ann@example.com ann@EXAMPLE.com"}
        << QByteArray("r.jsonl") << 0
        << QByteArray(
               "{\"address\":\"Ann@example.com\",\"occurrences\":2,\"sources\":1,"
               "\"first_source\":\"caf\\\\351 \xc3\xbc\\\"q\\\\\\\\.txt\",\"offset\":0}\n")
        << QByteArray();
    QTest::newRow("offsets in later chunks and units of a big file are the file's")
        << QList<QByteArray>{"big.txt=x@y.org" + QByteArray(999988, ' ') + "Late@Example.com" +
                                 QByteArray(1000000, ' ') + "LATE@example.com",
                             "small.txt=late@example.com"}
        << QByteArray("r.csv") << 0
        << header + "x@y.org,1,1,big.txt,0\r\nLate@Example.com,3,2,big.txt,999995\r\n"
        << QByteArray();
    QTest::newRow("a report that cannot be opened is refused before any input is read")
        << QList<QByteArray>{"fifo="} << QByteArray("missing/r.csv") << 1
        << QByteArray("orlenta-extract: missing/r.csv: No such file or directory\n")
        << QByteArray();
    // Past --memory the frozen set holds addresses back, and their rows are counted apart from
    // the rest: a row lost or doubled at the freeze, or an occurrence counted in the wrong half.
    QByteArray text;
    QByteArray rows;
    std::vector<int> occurrences(60000, 1);
    std::vector<int> offsets;
    for (int i = 0; i < 60000; ++i) {
        const int again = static_cast<int>((std::uint64_t(i) * 2654435761u) % std::uint64_t(i + 1));
        offsets.push_back(static_cast<int>(text.size()) + 2);
        // Lines of 50 bytes: the 30000-byte chunks end between lines, cutting no address.
        const QByteArray line = "x user" + QByteArray::number(i) + "@example.com y USER" +
                                QByteArray::number(again) + "@EXAMPLE.COM";
        text += line + QByteArray(48 - line.size(), ' ') + "\r\n";
        ++occurrences[static_cast<std::size_t>(again)];
    }
    for (int i = 0; i < 60000; ++i) {
        rows += "user" + QByteArray::number(i) + "@example.com," +
                QByteArray::number(2 * occurrences[static_cast<std::size_t>(i)]) + ",2,a.txt," +
                QByteArray::number(offsets[static_cast<std::size_t>(i)]) + "\r\n";
    }
    QTest::newRow("past --memory: the rows of the addresses held back follow, counts exact")
        << QList<QByteArray>{"a.txt=" + text, "b.txt=" + text} << QByteArray("r.csv") << 0
        << header + rows << QByteArray("1M");
}

void OrlentaExtractTest::reportRows() {
    QFETCH(QList<QByteArray>, sources);
    QFETCH(QByteArray, report);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, expected);
    QFETCH(QByteArray, memory);
    QTemporaryDir scratch;
    const QByteArray folder = QFile::encodeName(scratch.path());
    QList<QByteArray> names;
    for (const QByteArray& source : sources) {
        const QByteArray name = source.left(source.indexOf('='));
        const QByteArray path = folder + '/' + name;
        if (name == "fifo") {
            QCOMPARE(::mkfifo(path.constData(), 0600), 0);
        } else {
            std::FILE* file = std::fopen(path.constData(), "wb");
            QVERIFY(file != nullptr);
            const QByteArray content = source.mid(name.size() + 1);
            QCOMPARE(std::fwrite(content.constData(), 1, content.size(), file),
                     std::size_t(content.size()));
            QCOMPARE(std::fclose(file), 0);
        }
        names << name;
    }
    // A FIFO opened for reading lets a writer in: the watcher gets in, and its close ends the
    // read, so a run that reads too early shows instead of hanging.
    std::atomic<bool> done{false};
    std::atomic<bool> fifoRead{false};
    std::thread watcher([&] {
        while (!done && names.contains("fifo")) {
            const int fd = ::open(folder + "/fifo", O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                fifoRead = true;
                ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    for (const char* threads : {"-j1", "-j2", "-j8"}) {
        const QString target = QFile::decodeName(folder + '/' + report);
        QFile::remove(target);
        QList<QByteArray> arguments{threads, "--report", report};
        if (!memory.isEmpty()) {
            arguments << "--memory" << memory;
        }
        const Outcome outcome = RunIn(folder, arguments + names);
        QCOMPARE(outcome.exitCode, exitCode);
        QFile written(target);
        if (exitCode != 0) {
            QCOMPARE(outcome.err, expected);
            QCOMPARE(outcome.out, QByteArray());
            QVERIFY(!written.exists());
            continue;
        }
        QCOMPARE(outcome.err, QByteArray());
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), expected);
    }
    done = true;
    watcher.join();
    QVERIFY(!fifoRead);
    for (const QByteArray& name : names) {
        ::unlink(folder + '/' + name);  // QTemporaryDir removes only names that QString can carry
    }
}

QTEST_GUILESS_MAIN(OrlentaExtractTest)
#include "tst_orlenta_extract.moc"
