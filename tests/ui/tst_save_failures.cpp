#include "results/results_model.h"
#include "tests/ui/window_fixture.h"
#include "ui/commands/save_commands.h"
#include "ui/pointer/mouse_pointer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <optional>

using namespace orlenta;

namespace {

constexpr int CommaButton = 4;  // Check4, "Save As Comma Delimited"
constexpr int ListButton = 6;   // Check6, "Save Results As List"

// Lowers the largest file this process may write, for the life of the guard: writes beyond it
// fail as they would on a full disk.
class FileSizeLimit final {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &before_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = before_;
        small.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &before_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    Q_DISABLE_COPY_MOVE(FileSizeLimit)

private:
    rlimit before_{};
    void (*oldHandler_)(int) = nullptr;
};

}  // namespace

// Saves that cannot be written: each is given up, tells the user once, naming the file, and
// leaves the results list and every file as they were.
class SaveFailuresTest final : public QObject {
    Q_OBJECT

private slots:
    void init() { window_.emplace(); }
    void cleanup() { window_.reset(); }

    void failedSaveKeepsEverything_data() {
        QTest::addColumn<int>("check");
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"parent is a file", "target is a folder", "read-only file",
                                 "hard link, file too large", "file too large"}) {
            QTest::addRow("list, %s", kind) << ListButton << QString::fromLatin1(kind);
            QTest::addRow("comma, %s", kind) << CommaButton << QString::fromLatin1(kind);
        }
    }
    void failedSaveKeepsEverything() {
        QFETCH(int, check);
        QFETCH(QString, kind);
        const bool tooLarge = kind.endsWith(QLatin1String("file too large"));
        if (kind == QLatin1String("read-only file") && ::geteuid() == 0) {
            QSKIP("File permissions do not hold back root");
        }
        const QStringList addresses = NumberedAddresses(tooLarge ? 10000 : 3);
        window_->setResults(addresses);
        const QString root = window_->dir.path();
        QString path;
        QString keptFile;  // a file that must keep its bytes
        const QByteArray old("old content\r\n");
        bool asked = true;
        if (kind == QLatin1String("parent is a file")) {
            keptFile = window_->filePath(QStringLiteral("parent"));
            path = keptFile + QStringLiteral("/out.txt");
            asked = false;
        } else if (kind == QLatin1String("target is a folder")) {
            QVERIFY(QDir(root).mkdir(QStringLiteral("target")));
            path = window_->filePath(QStringLiteral("target"));
            keptFile = path + QStringLiteral("/inside.txt");
        } else if (kind == QLatin1String("read-only file")) {
            path = keptFile = window_->filePath(QStringLiteral("out.txt"));
        } else {
            path = keptFile = window_->filePath(QStringLiteral("out.txt"));
        }
        QVERIFY(PutBytes(keptFile, old));
        // A second link makes the save write in place; the limit then stops it before it
        // changes one old byte.
        if (kind == QLatin1String("hard link, file too large")) {
            QCOMPARE(::link(QFile::encodeName(keptFile), QFile::encodeName(keptFile + ".link")), 0);
        }
        const QStringList entriesBefore = FolderEntries(QFileInfo(keptFile).path());
        if (kind == QLatin1String("read-only file")) {
            QVERIFY(QFile::setPermissions(keptFile, QFile::ReadOwner | QFile::ReadUser));
        }
        window_->platform.saveAnswers << FileName(path);
        window_->platform.messageAnswers << MessageAnswer::Yes;

        {
            std::optional<FileSizeLimit> limit;
            if (tooLarge) {
                limit.emplace(4096);
            }
            window_->press(check);
        }

        const auto messages = window_->messages();
        QCOMPARE(messages.size(), std::size_t(asked ? 2 : 1));
        if (asked) {
            QCOMPARE(messages[0].message.text, OverwriteQuestion(path));
        }
        const auto notices = window_->notices();
        QCOMPARE(notices.size(), std::size_t(1));
        const QString text = notices[0].message.text;
        const QString start = QStringLiteral("Could not save ") + path + QStringLiteral(": ");
        QVERIFY2(text.startsWith(start) && text.size() > start.size(), qPrintable(text));
        QCOMPARE(notices[0].message.caption, QStringLiteral("Orlenta"));
        QCOMPARE(notices[0].owner, &window_->form);
        if (tooLarge) {
            QCOMPARE(text, SaveFailedMessage(path, QStringLiteral("File too large")));
        }

        QCOMPARE(ReadBytes(keptFile), old);
        QCOMPARE(FolderEntries(QFileInfo(keptFile).path()), entriesBefore);
        QCOMPARE(window_->results(), addresses);
        QCOMPARE(window_->form.windowPointer().value(), MousePointer::Default);
    }

    // Guards against a failure that leaves the window unable to save again.
    void saveAfterAFailureWorks() {
        window_->setResults({"a@example.com"});
        const QString parent = window_->filePath(QStringLiteral("parent"));
        QVERIFY(PutBytes(parent, "x"));
        const QString good = window_->filePath(QStringLiteral("good.txt"));
        window_->platform.saveAnswers << FileName(parent + QStringLiteral("/out.txt"))
                                      << FileName(good);
        window_->press(CommaButton);
        window_->press(CommaButton);
        QCOMPARE(window_->notices().size(), std::size_t(1));
        QCOMPARE(ReadBytes(good), QByteArray("a@example.com\r\n"));
    }

private:
    std::optional<WindowFixture> window_;
};

QTEST_MAIN(SaveFailuresTest)
#include "tst_save_failures.moc"
