// orlenta-extract at the seams of its inputs and of the process, as a hostile user meets it:
// closed standard descriptors, a folder entry swapped for a FIFO, pseudo-files, names made to
// fool a terminal, a memory limit. Each row is a bash script run in a fresh folder, with $X
// standing for orlenta-extract and t.txt holding "a@example.com"; what it prints, its error
// output and its status are compared whole.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Outcome RunScript(const QString& folder, const QString& script) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("X"), QStringLiteral(ORLENTA_EXTRACT));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    process.start(
        QStringLiteral("bash"),
        {QStringLiteral("-c"), QStringLiteral("printf 'a@example.com\\r\\n' > t.txt; ") + script});
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// The program under test is built with a sanitizer, whose runtime cannot start under a limit
// of the address space.
constexpr bool Sanitized = ORLENTA_EXTRACT_SANITIZED;

}  // namespace

class InputFaultsTest final : public QObject {
    Q_OBJECT

private slots:
    void faultIsAnsweredSoundly_data();
    void faultIsAnsweredSoundly();
};

void InputFaultsTest::faultIsAnsweredSoundly_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");

    const QByteArray a = "a@example.com\r\n";
    const QByteArray noStandardInput = "orlenta-extract: (standard input): Bad file descriptor\n";

    // Guards against the temporary -o file taking descriptor 2 and receiving the message.
    QTest::newRow("standard error closed")
        << "$X -o out.txt t.txt missing 2>&-; echo $?; cat out.txt" << 0 << "1\n" + a
        << QByteArray();
    // Guards against a source opened on descriptor 0 being read as standard input, which gave
    // -j 1 and -j 2 different results (a file too large to be read at once keeps it open).
    for (const char* threads : {"1", "2", "8"}) {
        QTest::addRow("standard input closed, -j %s", threads)
            << QStringLiteral(
                   "seq -f 'b%.0f@example.com\r' 100000 > b.txt; "
                   "$X -j %1 b.txt - <&- | tail -n 1; exit ${PIPESTATUS[0]}")
                   .arg(threads)
            << 1 << QByteArray("b100000@example.com\r\n") << noStandardInput;
    }
    // Guards against a closed standard output reopened for writing, where the addresses would
    // vanish with status 0, and against a failed write passing for success.
    QTest::newRow("standard output closed")
        << "$X t.txt >&-" << 1 << QByteArray()
        << QByteArray("orlenta-extract: standard output: Bad file descriptor\n");
    QTest::newRow("standard output full at exit")
        << "$X --version >/dev/full" << 1 << QByteArray()
        << QByteArray("orlenta-extract: standard output: No space left on device\n");
    // Guards against a folder entry swapped for a FIFO after the walk hanging the run: the
    // writer of `sync` gets in once the walk is over and the run reads it, then swaps.
    QTest::newRow("folder entry swapped for a FIFO")
        << "mkdir d; cp t.txt d/b.txt; mkfifo sync; "
           "(exec 3>sync; rm d/b.txt; mkfifo d/b.txt; printf 'y@example.com\\r\\n' >&3) & "
           "timeout 20 $X -j 1 sync d; status=$?; : <>sync; wait; exit $status"
        << 1 << QByteArray("y@example.com\r\n")
        << QByteArray("orlenta-extract: d/b.txt: not a regular file\n");
    // Guards against the file size limit killing the run by SIGXFSZ instead of naming it.
    QTest::newRow("file size limit")
        << "seq -f 'u%.0f@example.com\r' 20000 > big.txt && echo old > out.txt && "
           "(ulimit -f 100; exec $X -o out.txt big.txt); echo $?; ls -A; cat out.txt"
        << 0 << QByteArray("1\nbig.txt\nout.txt\nt.txt\nold\n")
        << QByteArray("orlenta-extract: out.txt: File too large\n");
    // Guards against a FIFO opened ahead of its turn only to be refused: its waiting writer
    // took that open for its reader, and what it wrote went with the close.
    QTest::newRow("FIFO whose writer waits, after 300 files")
        << "mkfifo f; (printf ' w@example.com ' > f) & sleep 0.2; "
           "timeout 20 $X -j 2 $(printf 't.txt %.0s' $(seq 300)) f; status=$?; : <>f; wait; "
           "exit $status"
        << 0 << a + "w@example.com\r\n"
        << QByteArray();
    // Guards against /proc files (length 0) read as empty and /sys files (length 4096)
    // reported as shortened: both are read to their end.
    for (const char* threads : {"1", "2"}) {
        QTest::addRow("pseudo-files, -j %s", threads)
            << QStringLiteral(
                   "env -i 'E= env@example.com ' $X -j %1 /proc/self/environ "
                   "/sys/devices/system/cpu/online")
                   .arg(threads)
            << 0 << QByteArray("env@example.com\r\n") << QByteArray();
    }
    // Guards against a libarchive that cannot be loaded (it is loaded only for --unpack)
    // ending the run in std::terminate, or in a run that leaves the packed files unread.
    QTest::newRow("libarchive that cannot be loaded")
        << "mkdir lib && : > lib/libarchive.so.13 && LD_LIBRARY_PATH=lib $X --unpack t.txt" << 1
        << QByteArray()
        << QByteArray("orlenta-extract: --unpack: lib/libarchive.so.13: file too short\n");
    // Guards against names that retitle or clear the terminal or forge a message line.
    QTest::newRow("name with ESC, newline and backslash")
        << R"sh($X "$(printf 'no\033]0;x\a\033[2J\\such\nfile')")sh" << 1 << QByteArray()
        << QByteArray(R"(orlenta-extract: no\033]0;x\a\033[2J\\such\nfile: )"
                      "No such file or directory\n");
    QTest::newRow("output name with ESC")
        << R"sh($X -o "$(printf 'gone\033[2J/out')" t.txt)sh" << 1 << QByteArray()
        << QByteArray(R"(orlenta-extract: gone\033[2J/out: No such file or directory)"
                      "\n");
    // Guards against running out of memory ending in std::terminate (a signal, the -o file's
    // temporary file left behind): a message, status 1, the old file as it was.
    for (const char* threads : {"1", "2"}) {
        QTest::addRow("memory limit, -j %s", threads)
            << QStringLiteral(
                   "seq -f 'u%.0f@example.com\r' 2000000 > big.txt && echo old > out.txt && "
                   "(ulimit -v 100000; exec $X -j %1 -o out.txt big.txt); echo $?; ls -A; "
                   "cat out.txt")
                   .arg(threads)
            << 0 << QByteArray("1\nbig.txt\nout.txt\nt.txt\nold\n")
            << QByteArray("orlenta-extract: out of memory\n");
    }
}

void InputFaultsTest::faultIsAnsweredSoundly() {
    QFETCH(QString, script);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    if (Sanitized && script.contains(QStringLiteral("ulimit -v"))) {
        QSKIP("a sanitizer's runtime cannot start under a limit of its address space");
    }
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const Outcome outcome = RunScript(folder.path(), script);
    QCOMPARE(outcome.err, err);
    QCOMPARE(outcome.out, out);
    QCOMPARE(outcome.exitCode, exitCode);
}

QTEST_GUILESS_MAIN(InputFaultsTest)
#include "tst_input_faults.moc"
