#include "engine/extraction_run.h"
#include "results/results_model.h"
#include "sources/source_list_model.h"
#include "tests/ui/scripted_platform.h"
#include "tests/ui/window_fixture.h"
#include "ui/commands/extraction_controller.h"
#include "ui/window/form1.h"
#include "ui/window/press_button.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

using namespace orlenta;
using Call = ScriptedPlatform::Call;

namespace {

// What the window looked like at one yield of a run.
struct Moment {
    QString status;
    int results = 0;
    MousePointer pointer = MousePointer::Default;
    Qt::CursorShape cursor = Qt::ArrowCursor;
    bool extracting = false;
};

QStringList Results(const Form1& form) {
    QStringList addresses;
    for (int i = 0; i < form.resultsModel().count(); ++i) {
        addresses << QString::fromStdString(std::string(form.resultsModel().addressAt(i)));
    }
    return addresses;
}

// Padding text without any "@", so the addresses stand where they are put.
QByteArray Filler(int length) {
    const QByteArray words("plain words, nothing to find here. ");
    QByteArray text;
    while (text.size() < length) {
        text += words;
    }
    text.truncate(length);
    return text;
}

}  // namespace

class WindowRunTest final : public QObject {
    Q_OBJECT

private slots:
    void init() {
        dir_.emplace();
        QVERIFY(dir_->isValid());
        platform_.emplace();
        platform_->folder = dir_->path();
        form_.emplace(*platform_);
    }
    void cleanup() {
        for (const QByteArray& path : std::as_const(written_)) {
            ::unlink(path.constData());  // QTemporaryDir removes only names QString can carry
        }
        written_.clear();
        form_.reset();
        platform_.reset();
        dir_.reset();
    }

    void runAppendsTheAddressesInOrder() {
        addTypicalFiles();
        std::vector<Moment> moments;
        platform_->onProcessEvents = [&] { moments.push_back(now()); };

        form_->extractButton()->click();

        QCOMPARE(Results(*form_), typicalAddresses());
        QVERIFY(!moments.empty());
        QList<int> countsWhileAdding;
        for (const Moment& moment : moments) {
            QCOMPARE(moment.pointer, MousePointer::Hourglass);
            QCOMPARE(moment.cursor, Qt::WaitCursor);
            QVERIFY(moment.extracting);
            if (moment.status == AddingEmailsText) {
                countsWhileAdding << moment.results;
            } else {
                QCOMPARE(moment.status, QString());
            }
        }
        // The run yields before each address it appends, with the status line showing.
        QCOMPARE(countsWhileAdding, (QList<int>{0, 1, 2, 3, 4}));
        QCOMPARE(form_->statusLine()->text(), QString());
        QCOMPARE(form_->windowPointer().value(), MousePointer::Default);
        QCOMPARE(form_->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!form_->longWork().isRunning(LongWork::Run));
        QCOMPARE(form_->extraction().lastRun().filesRead, std::size_t(3));
        QCOMPARE(form_->extraction().lastRun().addressesFound, std::size_t(5));
        QVERIFY(!form_->extraction().lastRun().stopped);
        QVERIFY(platform_->callsOf(Call::Message).empty());
        QCOMPARE(form_->extractButton()->value(), 0);
    }

    // Guards against telling the views about every address on its own, which costs more than
    // finding it: what is found between two turns of the event loop goes in as one insertion.
    void addressesFoundBetweenTurnsAreInsertedTogether() {
        addTypicalFiles();
        platform_->clockStep = {};  // time stands still: after the first turn none is due
        QSignalSpy inserted(&form_->resultsModel(), &QAbstractItemModel::rowsInserted);
        form_->extractButton()->click();
        QCOMPARE(Results(*form_), typicalAddresses());
        QCOMPARE(platform_->processEventsCount, 1);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(inserted[0][1].toInt(), 0);
        QCOMPARE(inserted[0][2].toInt(), 4);
    }

    void emptyListSaysNoFilesAdded() {
        form_->resultsModel().append("keep@example.org");
        std::vector<Moment> atMessage;
        platform_->onCall = [&](const ScriptedPlatform::Record& record) {
            if (record.call == Call::Message) {
                atMessage.push_back(now());
            }
        };

        form_->extractButton()->click();

        const auto messages = platform_->callsOf(Call::Message);
        QCOMPARE(messages.size(), std::size_t(1));
        QCOMPARE(messages[0].message.text, QStringLiteral("No files added."));
        QCOMPARE(messages[0].message.caption, QStringLiteral("Orlenta"));
        QVERIFY(messages[0].message.buttons == MessageButtons::Ok);
        QCOMPARE(messages[0].owner, &*form_);
        // The hourglass stays while the message is up.
        QCOMPARE(atMessage.size(), std::size_t(1));
        QCOMPARE(atMessage[0].pointer, MousePointer::Hourglass);
        QCOMPARE(atMessage[0].cursor, Qt::WaitCursor);
        QCOMPARE(Results(*form_), QStringList{"keep@example.org"});
        QCOMPARE(form_->statusLine()->text(), QString());
        QCOMPARE(form_->windowPointer().value(), MousePointer::Default);
        QCOMPARE(form_->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(platform_->processEventsCount, 0);
    }

    // Guards against a run that remembers addresses across runs or clears the list first.
    void secondRunAppendsTheSameAddressesAgain() {
        addTypicalFiles();
        form_->extractButton()->click();
        form_->extractButton()->click();
        QCOMPARE(Results(*form_), typicalAddresses() + typicalAddresses());
    }

    void reorderingDuringARunIsReadAsItStands() {
        addFile("one.txt", "first@example.com\r\n");
        addFile("two.txt", "second@example.com\r\n");
        addFile("three.txt", "third@example.com\r\n");
        bool swapped = false;
        platform_->onProcessEvents = [&] {
            if (!swapped) {  // before the first file: swap the two not yet read
                swapped = true;
                const QByteArray second = form_->sourceModel().pathAt(1);
                form_->sourceModel().setPathAt(1, form_->sourceModel().pathAt(2));
                form_->sourceModel().setPathAt(2, second);
            }
        };
        form_->extractButton()->click();
        QCOMPARE(Results(*form_),
                 (QStringList{"first@example.com", "third@example.com", "second@example.com"}));
    }

    void filesAddedDuringARunWaitForTheNextRun() {
        addFile("one.txt", "first@example.com\r\n");
        const QByteArray late = writeFile("late.txt", "late@example.com\r\n");
        bool added = false;
        platform_->onProcessEvents = [&] {
            if (!added) {
                added = true;
                form_->sourceModel().append(late);
            }
        };
        form_->extractButton()->click();
        QCOMPARE(Results(*form_), QStringList{"first@example.com"});
        QCOMPARE(form_->sourceModel().count(), 2);
    }

    void skippedFilesAreNamedInOneMessage() {
        addFile("good.txt", "good@example.com\r\n");
        const QString missing = dir_->filePath(QStringLiteral("missing.txt"));
        form_->sourceModel().append(missing);
        form_->sourceModel().append(dir_->path());  // a folder
        addFile("after.txt", "after@example.com\r\n");
        std::vector<Moment> atMessage;
        platform_->onCall = [&](const ScriptedPlatform::Record& record) {
            if (record.call == Call::Message) {
                atMessage.push_back(now());
            }
        };

        form_->extractButton()->click();

        // The run goes on past the files it cannot read.
        QCOMPARE(Results(*form_), (QStringList{"good@example.com", "after@example.com"}));
        const auto messages = platform_->callsOf(Call::Message);
        QCOMPARE(messages.size(), std::size_t(1));
        const QString text = messages[0].message.text;
        QVERIFY2(text.contains(missing + QStringLiteral(": ") +
                               QString::fromLocal8Bit(std::strerror(ENOENT))),
                 qPrintable(text));
        QVERIFY2(text.contains(dir_->path() + QStringLiteral(": ")), qPrintable(text));
        QVERIFY(!text.contains(QStringLiteral("good.txt")));
        QCOMPARE(messages[0].message.caption, QStringLiteral("Orlenta"));
        QVERIFY(messages[0].message.buttons == MessageButtons::Ok);
        QCOMPARE(atMessage[0].pointer, MousePointer::Hourglass);
        QCOMPARE(form_->windowPointer().value(), MousePointer::Default);
        QCOMPARE(form_->extraction().lastRun().filesSkipped, std::size_t(2));
    }

    void longListOfSkippedFilesIsCut() {
        std::vector<SkippedFile> skipped;
        for (int i = 0; i < MaxListedSkippedFiles + 5; ++i) {
            skipped.push_back({"/data/f" + std::to_string(i) + ".txt", "gone"});
        }
        const QStringList lines = SkippedFilesMessage(skipped).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 1 + MaxListedSkippedFiles + 1);
        QCOMPARE(lines[1], QStringLiteral("/data/f0.txt: gone"));
        QCOMPARE(lines.last(), QStringLiteral("... and 5 more."));
    }

    // Guards against a lack of memory during a run ending the program (std::terminate) and
    // losing the list: the run stops with a message and keeps every address it found.
    void outOfMemoryStopsTheRunAndKeepsTheList() {
        addTypicalFiles();
        bool thrown = false;
        platform_->onProcessEvents = [&] {
            if (form_->resultsModel().count() == 2 && !std::exchange(thrown, true)) {
                throw std::bad_alloc();
            }
        };

        form_->extractButton()->click();

        QCOMPARE(Results(*form_), typicalAddresses().mid(0, 2));
        const auto messages = platform_->callsOf(Call::Message);
        QCOMPARE(messages.size(), std::size_t(1));
        QCOMPARE(messages[0].message.text, OutOfMemoryText);
        QVERIFY(form_->extraction().lastRun().stopped);
        QVERIFY(!form_->longWork().isRunning(LongWork::Run));
        QCOMPARE(form_->statusLine()->text(), QString());
        QCOMPARE(form_->windowPointer().value(), MousePointer::Default);
    }

    void closingDuringARunStopsAtOnce() {
        addFile("one.txt", "a@example.com b@example.com c@example.com\r\n");
        form_->sourceModel().append(dir_->filePath(QStringLiteral("never-read.txt")));
        addFile("two.txt", "d@example.com\r\n");
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(&*form_));
        int yieldsAfterClose = -1;
        platform_->onProcessEvents = [&] {
            if (yieldsAfterClose >= 0) {
                ++yieldsAfterClose;
            } else if (form_->resultsModel().count() == 1) {
                yieldsAfterClose = 0;
                QVERIFY(form_->close());  // accepted at once
            }
        };

        form_->extractButton()->click();

        QCOMPARE(yieldsAfterClose, 0);
        QCOMPARE(Results(*form_), QStringList{"a@example.com"});
        const RunSummary& run = form_->extraction().lastRun();
        QVERIFY(run.stopped);
        QCOMPARE(run.filesSkipped, std::size_t(0));  // the missing file was never tried
        QVERIFY(platform_->callsOf(Call::Message).empty());
        QVERIFY(!form_->isVisible());
        QVERIFY(!form_->longWork().isRunning(LongWork::Run));
        QCOMPARE(form_->statusLine()->text(), QString());
        QCOMPARE(form_->windowPointer().value(), MousePointer::Default);
    }

    // Guards against a run that keeps the program alive (or crashes it) after its window closed.
    void closingDuringARunEndsTheProgram() {
        for (int i = 0; i < 20; ++i) {
            addFile(QStringLiteral("f%1.txt").arg(i).toLatin1(),
                    QByteArray("x") + QByteArray::number(i) + "@example.com\r\n");
        }
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(&*form_));
        platform_->onProcessEvents = [&] {
            if (form_->resultsModel().count() == 1 && form_->isVisible()) {
                form_->close();
            }
        };
        const LoopEnd end = RunEventLoop(&*form_, [this] { form_->extractButton()->click(); });

        QVERIFY(!end.timedOut);
        QCOMPARE(end.status, 0);
        QCOMPARE(form_->resultsModel().count(), 1);
        QVERIFY(form_->extraction().lastRun().stopped);
    }

private:
    Moment now() const {
        return {form_->statusLine()->text(), form_->resultsModel().count(),
                form_->windowPointer().value(), form_->cursor().shape(),
                form_->longWork().isRunning(LongWork::Run)};
    }

    // Names are bytes, as the file system takes them; they need not be UTF-8.
    QByteArray writeFile(const QByteArray& name, const QByteArray& content) {
        const QByteArray path = QFile::encodeName(dir_->path()) + '/' + name;
        std::FILE* file = std::fopen(path.constData(), "wb");
        if (file == nullptr ||
            std::fwrite(content.constData(), 1, std::size_t(content.size()), file) !=
                std::size_t(content.size()) ||
            std::fclose(file) != 0) {
            qFatal("cannot write the fixture %s", name.constData());
        }
        written_.append(path);
        return path;
    }

    void addFile(const QByteArray& name, const QByteArray& content) {
        form_->sourceModel().append(writeFile(name, content));
    }

    // Three files: duplicates in other case, punctuation around addresses, and a file of
    // several chunks with addresses in its second and third chunk.
    void addTypicalFiles() {
        addFile("a.txt",
                "Write to Ann <ann@example.com>, bob@example.org; ANN@EXAMPLE.COM again\r\n");
        // A name that is not UTF-8 guards against the run opening the entry's shown text.
        addFile("b\xe9.html", "<a href=\"mailto:Bob@Example.org\">carol@mail.example.net</a>\r\n");
        addFile("c.txt", Filler(40000) + " dave@host.example.com " + Filler(25000) +
                             "\r\nerin@x.io\r\n" + Filler(5000));
    }

    static QStringList typicalAddresses() {
        return {"ann@example.com", "bob@example.org", "carol@mail.example.net",
                "dave@host.example.com", "erin@x.io"};
    }

    std::optional<QTemporaryDir> dir_;
    QList<QByteArray> written_;
    std::optional<ScriptedPlatform> platform_;
    std::optional<Form1> form_;
};

QTEST_MAIN(WindowRunTest)
#include "tst_window_run.moc"
