// orlenta-extract -o at the output's seam, one fault a row: whatever happens, the old file keeps
// every byte or gets the whole output, keeps what it is (owner, links, attributes), and no
// temporary file is left, in the output's folder nor in $TMPDIR, where a run past its memory
// budget spills. Rows that need root (mounts, another user) skip without it.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

namespace {

enum class Fault {
    DiskFull,
    DiskFullInPlace,
    FolderReadOnly,
    ForeignOwner,
    HardLink,
    ExtendedAttribute,
    StickyFolder,
    StdoutPipe,
    StdoutAppended,
    ClosedDescriptor,
    NonBlockingStdout,
    Signal,
    SpillFull,
    SignalMidSpill,
    ReportFull,
};

constexpr uid_t Nobody = 65534;
constexpr int ClosedFd = 9;

// Lines of 24 bytes: none crosses the reader's 30,000-byte chunks, so the output is the input.
QByteArray Addresses(int count) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i) {
        bytes += QByteArray::number(i).rightJustified(6, '0').prepend("user") + "@example.com\r\n";
    }
    return bytes;
}

bool Put(const QByteArray& path, const QByteArray& bytes) {
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray Get(const QByteArray& path) {
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

struct Child {
    pid_t pid = -1;
    int status = -1;  // as waitpid gives it
    QByteArray err;
};

// Starts orlenta-extract in `folder` as `user` (0: as this process), its standard output on
// `out` (-1: /dev/null), standard error in a file beside the folder.
pid_t Start(const QByteArray& folder, const QList<QByteArray>& arguments, uid_t user, int out) {
    QList<QByteArray> words{ORLENTA_EXTRACT};
    words += arguments;
    std::vector<char*> argv;
    for (QByteArray& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const QByteArray errPath = folder + ".err";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int err = ::open(errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int sink = out >= 0 ? out : ::open("/dev/null", O_WRONLY);
        ::signal(SIGPIPE, SIG_DFL);
        if (::dup2(in, 0) == 0 && ::dup2(sink, 1) == 1 && ::dup2(err, 2) == 2 &&
            ::close(ClosedFd) <= 0 && ::chdir(folder.constData()) == 0 &&
            (user == 0 || (::setgid(user) == 0 && ::setuid(user) == 0))) {
            ::execv(argv[0], argv.data());
        }
        ::_exit(127);
    }
    return pid;
}

Child Finish(pid_t pid, const QByteArray& folder) {
    Child child{pid, -1, {}};
    while (::waitpid(pid, &child.status, 0) < 0 && errno == EINTR) {
    }
    child.err = Get(folder + ".err");
    ::unlink(folder + ".err");
    return child;
}

// Waits until process `pid` holds a file of `folder` open that has no name any more: the
// spill's temporary file.
bool AwaitUnlinkedFile(pid_t pid, const QByteArray& folder) {
    const QByteArray fds = "/proc/" + QByteArray::number(pid) + "/fd/";
    for (int i = 0; i < 3000; ++i) {
        for (int fd = 3; fd < 64; ++fd) {
            char target[4096];
            const ssize_t size = ::readlink(fds + QByteArray::number(fd), target, sizeof target);
            const QByteArray name(target, size > 0 ? int(size) : 0);
            if (name.startsWith(folder + "/") && name.endsWith(" (deleted)")) {
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Waits until `folder` holds a name starting with `prefix` (the run's temporary file).
bool AwaitEntry(const QString& folder, const QString& prefix) {
    for (int i = 0; i < 3000; ++i) {
        if (!QDir(folder).entryList({prefix + "*"}, QDir::Files | QDir::Hidden).isEmpty()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace

Q_DECLARE_METATYPE(Fault)

class OutputFaultsTest final : public QObject {
    Q_OBJECT

private slots:
    void faults_data();
    void faults();
};

void OutputFaultsTest::faults_data() {
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("signal");     // sent mid-run; 0: none
    QTest::addColumn<int>("exitCode");   // when no signal
    QTest::addColumn<bool>("replaced");  // the target holds the output (else its old bytes)
    // The temporary file does not fit: the old file stays, the temporary file goes.
    QTest::newRow("tmpfs full") << Fault::DiskFull << 0 << 1 << false;
    // Written in place (folder closed to nobody), the disk fills: not one old byte changes.
    QTest::newRow("tmpfs full, in place") << Fault::DiskFullInPlace << 0 << 1 << false;
    // A writable file in a folder that takes no new file is written in place, not refused.
    QTest::newRow("read-only folder") << Fault::FolderReadOnly << 0 << 0 << true;
    // Root's file, writable by all, saved by nobody: it stays root's.
    QTest::newRow("foreign owner") << Fault::ForeignOwner << 0 << 0 << true;
    // A second hard link sees the new content too.
    QTest::newRow("hard link") << Fault::HardLink << 0 << 0 << true;
    // A user.* attribute is kept.
    QTest::newRow("extended attribute") << Fault::ExtendedAttribute << 0 << 0 << true;
    // In /tmp-like folders nobody may not rename over root's file: written in place, at once.
    QTest::newRow("sticky folder") << Fault::StickyFolder << 0 << 0 << true;
    // -o /dev/stdout on a pipe writes to the pipe (no "No such file or directory").
    QTest::newRow("/dev/stdout, pipe") << Fault::StdoutPipe << 0 << 0 << true;
    // -o /dev/stdout >> log appends to log, keeping what it held.
    QTest::newRow("/dev/stdout, appended") << Fault::StdoutAppended << 0 << 0 << true;
    // A closed /dev/fd/N is refused before the run.
    QTest::newRow("closed /dev/fd/N") << Fault::ClosedDescriptor << 0 << 1 << false;
    // A non-blocking standard output is waited on past the pipe's 64 KB, not failed.
    QTest::newRow("non-blocking stdout") << Fault::NonBlockingStdout << 0 << 0 << true;
    // A signal mid-run removes the temporary file and ends the run by that signal.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        QTest::addRow("signal %d", signal) << Fault::Signal << signal << 0 << false;
    }
    // Past --memory, $TMPDIR fills up: the run ends with status 1 and the old file stays.
    QTest::newRow("temporary space full") << Fault::SpillFull << 0 << 1 << false;
    // Killed while spilling: the spill's file goes with the process; $TMPDIR stays empty, even
    // on SIGKILL, as its file never had a name.
    QTest::newRow("SIGTERM mid-spill") << Fault::SignalMidSpill << SIGTERM << 0 << false;
    QTest::newRow("SIGKILL mid-spill") << Fault::SignalMidSpill << SIGKILL << 0 << false;
    // The report does not fit: the list, written whole, is not committed without it.
    QTest::newRow("report's disk full") << Fault::ReportFull << 0 << 1 << false;
}

void OutputFaultsTest::faults() {
    QFETCH(Fault, fault);
    QFETCH(int, signal);
    QFETCH(int, exitCode);
    QFETCH(bool, replaced);
    const bool root = ::geteuid() == 0;
    const bool asNobody = fault == Fault::DiskFullInPlace || fault == Fault::FolderReadOnly ||
                          fault == Fault::ForeignOwner || fault == Fault::StickyFolder;
    if ((asNobody || fault == Fault::DiskFull || fault == Fault::SpillFull ||
         fault == Fault::ReportFull) &&
        !root) {
        QSKIP("needs root: a mount, or another user");
    }
    QTemporaryDir scratch;
    const QByteArray base = QFile::encodeName(scratch.path());
    QCOMPARE(::chmod(base, 0755), 0);
    const QByteArray folder = base + "/out";
    QCOMPARE(::mkdir(folder, 0777), 0);
    QCOMPARE(::chmod(folder, 0777), 0);  // whatever the umask
    const QByteArray target = folder + "/out.txt";
    const QByteArray old = "old content\r\n";
    const bool full = fault == Fault::DiskFull || fault == Fault::DiskFullInPlace;
    const bool spills =
        fault == Fault::SpillFull || fault == Fault::SignalMidSpill || fault == Fault::ReportFull;
    const QByteArray input = Addresses(full || spills                      ? 200000
                                       : fault == Fault::NonBlockingStdout ? 10000
                                                                           : 3);
    QVERIFY(Put(base + "/in.txt", input));
    if (full && ::mount("orlenta-test", folder, "tmpfs", 0, "size=1m,mode=0777") != 0) {
        QSKIP("a small file system cannot be mounted here");
    }
    const auto unmount = qScopeGuard([&] {
        if (full) {
            ::umount2(folder, MNT_DETACH);
        }
    });
    // The spill's folder (and the report's): a small file system to fill, or one to find empty
    // after the run.
    const QByteArray temporary = base + "/tmp";
    QCOMPARE(::mkdir(temporary, 0777), 0);
    if ((fault == Fault::SpillFull || fault == Fault::ReportFull) &&
        ::mount("orlenta-test", temporary, "tmpfs", 0, "size=256k,mode=0777") != 0) {
        QSKIP("a small file system cannot be mounted here");
    }
    const auto unmountTemporary = qScopeGuard([&] {
        ::umount2(temporary, MNT_DETACH);  // fails, harmlessly, when not mounted
    });
    const QByteArray savedTemporary = qgetenv("TMPDIR");
    qputenv("TMPDIR", temporary);
    const auto restoreTemporary = qScopeGuard([&] {
        if (savedTemporary.isEmpty()) {
            qunsetenv("TMPDIR");
        } else {
            qputenv("TMPDIR", savedTemporary);
        }
    });
    QVERIFY(Put(target, full ? QByteArray(300000, 'o') : old));
    const QByteArray kept = Get(target);
    QList<QByteArray> arguments{"-o", "out.txt", "../in.txt"};
    int out = -1;
    int pipeEnds[2] = {-1, -1};
    switch (fault) {
        case Fault::DiskFullInPlace:
            QCOMPARE(::chown(target, Nobody, Nobody), 0);
            QCOMPARE(::chmod(target, 0200), 0);
            QCOMPARE(::chmod(folder, 0755), 0);
            break;
        case Fault::FolderReadOnly:
            QCOMPARE(::chown(target, Nobody, Nobody), 0);
            QCOMPARE(::chmod(folder, 0555), 0);
            break;
        case Fault::ForeignOwner:
            QCOMPARE(::chmod(target, 0666), 0);
            break;
        case Fault::StickyFolder:
            QCOMPARE(::chmod(target, 0666), 0);
            QCOMPARE(::chmod(folder, 01777), 0);
            break;
        case Fault::HardLink:
            QCOMPARE(::link(target, folder + "/second.txt"), 0);
            break;
        case Fault::ExtendedAttribute:
            if (::setxattr(target, "user.orlenta", "kept", 4, 0) != 0) {
                QSKIP("no user.* attributes on this file system");
            }
            break;
        case Fault::StdoutPipe:
        case Fault::NonBlockingStdout:
            QCOMPARE(::pipe(pipeEnds), 0);
            out = pipeEnds[1];
            arguments[1] = "/dev/stdout";
            if (fault == Fault::NonBlockingStdout) {
                QCOMPARE(::fcntl(out, F_SETFL, O_NONBLOCK), 0);
                arguments = {"../in.txt"};
            }
            break;
        case Fault::StdoutAppended:
            out = ::open(target, O_WRONLY | O_APPEND);
            arguments[1] = "/dev/stdout";
            break;
        case Fault::ClosedDescriptor:
            arguments[1] = "/dev/fd/" + QByteArray::number(ClosedFd);
            break;
        case Fault::Signal:
            QCOMPARE(::mkfifo(base + "/in.fifo", 0644), 0);
            arguments[2] = "../in.fifo";
            break;
        case Fault::SpillFull:
            arguments += {"--memory", "1M"};
            break;
        case Fault::ReportFull:
            arguments += {"--report", "../tmp/report.csv"};
            break;
        case Fault::SignalMidSpill:
            // The file spills; then the run waits for a FIFO's writer that never comes.
            QCOMPARE(::mkfifo(base + "/in.fifo", 0644), 0);
            arguments += {"../in.fifo", "--memory", "1M"};
            break;
        case Fault::DiskFull:
            break;
    }
    const QStringList before =
        QDir(QFile::decodeName(folder)).entryList(QDir::Files | QDir::Hidden);
    struct stat was {};
    QCOMPARE(::stat(target, &was), 0);

    const pid_t pid = Start(folder, arguments, asNobody ? Nobody : 0, out);
    QVERIFY(pid > 0);
    QByteArray piped;
    if (pipeEnds[0] >= 0) {
        ::close(pipeEnds[1]);
        if (fault == Fault::NonBlockingStdout) {
            // Only once the pipe is full does a non-blocking writer meet EAGAIN.
            int queued = 0;
            for (int i = 0; i < 3000 && queued < 65536; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                ::ioctl(pipeEnds[0], FIONREAD, &queued);
            }
        }
        char buffer[65536];
        for (ssize_t got; (got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
            piped.append(buffer, int(got));
        }
        ::close(pipeEnds[0]);
    } else if (out >= 0) {
        ::close(out);
    }
    if (fault == Fault::Signal) {
        // A writer kept open holds the run after its first address, its temporary file made.
        int writer = -1;  // opened without blocking, so a run that never reads cannot hang here
        for (int i = 0; i < 3000 && writer < 0; ++i) {
            writer = ::open(base + "/in.fifo", O_WRONLY | O_NONBLOCK);
            std::this_thread::sleep_for(std::chrono::milliseconds(writer < 0 ? 10 : 0));
        }
        QVERIFY(writer >= 0 && ::write(writer, input.constData(), input.size()) == input.size());
        const bool started = AwaitEntry(QFile::decodeName(folder), ".out.txt.");
        ::kill(pid, signal);
        ::close(writer);
        QVERIFY(started);
    }
    if (fault == Fault::SignalMidSpill) {
        const bool spilling = AwaitUnlinkedFile(pid, temporary);
        ::kill(pid, signal);
        QVERIFY(spilling);
    }
    const Child child = Finish(pid, folder);

    if (signal != 0) {
        QVERIFY2(WIFSIGNALED(child.status) && WTERMSIG(child.status) == signal,
                 child.err.constData());
    } else {
        QVERIFY2(WIFEXITED(child.status) && WEXITSTATUS(child.status) == exitCode,
                 child.err.constData());
    }
    if (fault == Fault::StdoutPipe || fault == Fault::NonBlockingStdout) {
        QCOMPARE(piped, input);
    } else if (fault == Fault::StdoutAppended) {
        QCOMPARE(Get(target), old + input);
    } else {
        QCOMPARE(Get(target), replaced ? input : kept);
    }
    if (fault == Fault::ClosedDescriptor) {
        QVERIFY2(child.err.contains("Bad file descriptor"), child.err.constData());
    }
    if (fault == Fault::SpillFull) {
        QCOMPARE(child.err,
                 QByteArray("orlenta-extract: temporary file: No space left on device\n"));
    }
    if (fault == Fault::ReportFull) {
        QCOMPARE(child.err,
                 QByteArray("orlenta-extract: ../tmp/report.csv: No space left on device\n"));
    }
    QCOMPARE(QDir(QFile::decodeName(temporary))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList());
    ::chmod(folder, 0777);
    if (signal != SIGKILL) {  // no process can remove a named file on SIGKILL
        QCOMPARE(QDir(QFile::decodeName(folder)).entryList(QDir::Files | QDir::Hidden), before);
    }
    struct stat now {};
    QCOMPARE(::stat(target, &now), 0);
    QCOMPARE(now.st_uid, was.st_uid);
    QCOMPARE(now.st_mode, was.st_mode);
    if (fault == Fault::HardLink) {
        QCOMPARE(Get(folder + "/second.txt"), input);
    }
    if (fault == Fault::ExtendedAttribute) {
        char value[16] = {};
        QCOMPARE(::getxattr(target, "user.orlenta", value, sizeof value), ssize_t(4));
        QCOMPARE(QByteArray(value), QByteArray("kept"));
    }
}

QTEST_GUILESS_MAIN(OutputFaultsTest)
#include "tst_output_faults.moc"
