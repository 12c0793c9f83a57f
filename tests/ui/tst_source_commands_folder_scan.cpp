// "Add All File(s) In Folder" pressed in the window: the folder browser, the question, the
// hourglass, the order of the entries, and what closing the window or a second press does.
#include "results/results_model.h"
#include "sources/scan_rules.h"
#include "sources/source_list_model.h"
#include "tests/ui/scripted_platform.h"
#include "tests/ui/window_fixture.h"
#include "ui/commands/extraction_controller.h"
#include "ui/commands/folder_scan_command.h"
#include "ui/window/form1.h"
#include "ui/window/press_button.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace orlenta;
using Call = ScriptedPlatform::Call;

namespace {

// Creates `relative` files (and their folders) under `root`; names ending in "/" are folders.
bool Build(const QString& root, const QStringList& relative) {
    for (const QString& path : relative) {
        const QString full = root + QLatin1Char('/') + path;
        if (path.endsWith(QLatin1Char('/'))) {
            if (!QDir().mkpath(full)) {
                return false;
            }
            continue;
        }
        QFile file(full);
        if (!QDir().mkpath(QFileInfo(full).path()) || !file.open(QIODevice::WriteOnly)) {
            return false;
        }
    }
    return true;
}

MessageAnswer Answer(const QString& text) {
    if (text == QLatin1String("Yes")) {
        return MessageAnswer::Yes;
    }
    return text == QLatin1String("No") ? MessageAnswer::No : MessageAnswer::Cancel;
}

// How the window looked at one moment of the scan.
struct Moment {
    MousePointer pointer = MousePointer::Default;
    Qt::CursorShape cursor = Qt::ArrowCursor;
    int entries = 0;
};

}  // namespace

class FolderScanCommandTest final : public QObject {
    Q_OBJECT

private slots:
    void init() {
        window_.emplace();
        QVERIFY(window_->dir.isValid());
        root_ = window_->dir.path() + QStringLiteral("/chosen");
    }
    void cleanup() { window_.reset(); }

    void exampleFolder_data() {
        QTest::addColumn<QStringList>("answers");  // for d.TXT, then e.csv
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QStringList>("entries");

        QTest::newRow("No, No") << QStringList{"No", "No"} << QStringList{"d.TXT", "e.csv"}
                                << QStringList{"a.txt", "b.html", "c.htm"};
        QTest::newRow("Yes, No") << QStringList{"Yes", "No"} << QStringList{"d.TXT", "e.csv"}
                                 << QStringList{"a.txt", "b.html", "c.htm", "d.TXT"};
        QTest::newRow("No, Yes") << QStringList{"No", "Yes"} << QStringList{"d.TXT", "e.csv"}
                                 << QStringList{"a.txt", "b.html", "c.htm", "e.csv"};
        QTest::newRow("Yes, Yes") << QStringList{"Yes", "Yes"} << QStringList{"d.TXT", "e.csv"}
                                  << QStringList{"a.txt", "b.html", "c.htm", "d.TXT", "e.csv"};
        QTest::newRow("Cancel first") << QStringList{"Cancel"} << QStringList{"d.TXT"}
                                      << QStringList{"a.txt", "b.html", "c.htm"};
        QTest::newRow("Yes, Cancel")
            << QStringList{"Yes", "Cancel"} << QStringList{"d.TXT", "e.csv"}
            << QStringList{"a.txt", "b.html", "c.htm", "d.TXT"};
    }

    void exampleFolder() {
        QFETCH(QStringList, answers);
        QFETCH(QStringList, asked);
        QFETCH(QStringList, entries);
        QVERIFY(Build(root_, {"a.txt", "b.html", "c.htm", "d.TXT", "e.csv", "~tmp.txt"}));
        window_->form.resultsModel().append("kept@example.com");
        window_->platform.folderAnswers << FileName(root_);
        for (const QString& answer : answers) {
            window_->platform.messageAnswers << Answer(answer);
        }
        std::vector<Moment> atQuestion;
        std::vector<Moment> atYield;
        window_->platform.onCall = [&](const ScriptedPlatform::Record& record) {
            if (record.call == Call::Message) {
                atQuestion.push_back(now());
            }
        };
        window_->platform.onProcessEvents = [&] { atYield.push_back(now()); };

        QTest::mouseClick(window_->form.addFolderButton(), Qt::LeftButton);

        QCOMPARE(Entries(), Paths(entries));
        // The browser: once, owned by the window, with the prompt.
        const auto pickers = window_->platform.callsOf(Call::FolderPicker);
        QCOMPARE(pickers.size(), std::size_t(1));
        QCOMPARE(pickers[0].text, QStringLiteral("Please select folder to add:"));
        QCOMPARE(pickers[0].owner, &window_->form);
        // The questions: one per name of another kind, in order; ~tmp.txt is never asked about.
        const auto questions = window_->platform.callsOf(Call::Message);
        QCOMPARE(questions.size(), std::size_t(asked.size()));
        for (std::size_t i = 0; i < questions.size(); ++i) {
            const MessageBoxSettings& box = questions[i].message;
            QCOMPARE(box.text,
                     asked[int(i)] + QStringLiteral(" is not a .htm .html or .txt file. Do you "
                                                    "want to load it into the list of files to "
                                                    "extract from?"));
            QCOMPARE(box.caption, QStringLiteral("Orlenta"));
            QVERIFY(box.buttons == MessageButtons::YesNoCancel);
            QCOMPARE(questions[i].owner, &window_->form);
        }
        // The hourglass while the scan runs, the question up included, and the list as it
        // stands when asked.
        QVERIFY(!atYield.empty());
        for (const Moment& moment : atYield) {
            QCOMPARE(moment.pointer, MousePointer::Hourglass);
            QCOMPARE(moment.cursor, Qt::WaitCursor);
        }
        QCOMPARE(int(atQuestion.size()), asked.size());
        QCOMPARE(atQuestion[0].pointer, MousePointer::Hourglass);
        QCOMPARE(atQuestion[0].cursor, Qt::WaitCursor);
        QCOMPARE(atQuestion[0].entries, 3);
        QCOMPARE(window_->form.windowPointer().value(), MousePointer::Default);
        QCOMPARE(window_->form.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(window_->form.addFolderButton()->value(), 0);
        QCOMPARE(window_->form.resultsModel().count(), 1);
        QVERIFY(!window_->form.longWork().isRunning(LongWork::FolderScan));
        QCOMPARE(window_->form.folderScan().lastScan().appended, entries.size());
    }

    void escapeOrCloseBoxIsCancel() {
        QVERIFY(Build(root_, {"a.csv", "b.csv", "c.txt"}));
        window_->platform.folderAnswers << FileName(root_);  // no answer queued: the box is closed
        QTest::mouseClick(window_->form.addFolderButton(), Qt::LeftButton);
        QCOMPARE(window_->platform.callsOf(Call::Message).size(), std::size_t(1));
        QCOMPARE(window_->form.sourceModel().count(), 0);
        QCOMPARE(window_->form.folderScan().lastScan().end, ScanEnd::Cancelled);
        QCOMPARE(window_->form.windowPointer().value(), MousePointer::Default);
    }

    // Guards against the hourglass (or any pointer change) when the browser is cancelled.
    void cancelledBrowserChangesNothing() {
        QVERIFY(Build(root_, {"a.txt"}));
        window_->form.sourceModel().append(QStringLiteral("/kept.txt"));
        window_->form.windowPointer().set(
            MousePointer::Custom);  // as left by the hover over a button
        std::optional<MousePointer> atBrowser;
        window_->platform.onCall = [&](const ScriptedPlatform::Record& record) {
            if (record.call == Call::FolderPicker) {
                atBrowser = window_->form.windowPointer().value();
            }
        };

        QTest::mouseClick(window_->form.addFolderButton(), Qt::LeftButton);

        QCOMPARE(atBrowser, std::optional<MousePointer>(MousePointer::Custom));
        QCOMPARE(window_->form.windowPointer().value(), MousePointer::Custom);
        QCOMPARE(Entries(), QStringList{"/kept.txt"});
        QVERIFY(window_->platform.callsOf(Call::Message).empty());
        QCOMPARE(window_->platform.processEventsCount, 0);
        QCOMPARE(window_->form.addFolderButton()->value(), 0);
    }

    void vanishedFolderIsNamedInOneMessage() {
        QVERIFY(Build(root_, {"a.txt", "gone/b.txt", "kept/c.txt"}));
        window_->platform.folderAnswers << FileName(root_);
        bool removed = false;
        window_->platform.onProcessEvents = [&] {
            if (!removed) {  // after the walk has opened the chosen folder
                removed = QDir(root_ + QStringLiteral("/gone")).removeRecursively();
            }
        };
        std::optional<Moment> atMessage;
        window_->platform.onCall = [&](const ScriptedPlatform::Record& record) {
            if (record.call == Call::Message) {
                atMessage = now();
            }
        };

        QTest::mouseClick(window_->form.addFolderButton(), Qt::LeftButton);

        QVERIFY(removed);
        QCOMPARE(Entries(), Paths({"a.txt", "kept/c.txt"}));
        const auto messages = window_->platform.callsOf(Call::Message);
        QCOMPARE(messages.size(), std::size_t(1));
        const MessageBoxSettings& box = messages[0].message;
        QCOMPARE(box.text, QStringLiteral("These folders could not be read:\n") + root_ +
                               QStringLiteral("/gone: No such file or directory"));
        QCOMPARE(box.caption, QStringLiteral("Orlenta"));
        QVERIFY(box.buttons == MessageButtons::Ok);
        QCOMPARE(messages[0].owner, &window_->form);
        QVERIFY(atMessage.has_value());
        QCOMPARE(atMessage->pointer, MousePointer::Hourglass);
        QCOMPARE(window_->form.windowPointer().value(), MousePointer::Default);
    }

    void missingChosenFolderIsNamed() {
        window_->platform.folderAnswers << FileName(root_);  // never made
        QTest::mouseClick(window_->form.addFolderButton(), Qt::LeftButton);
        const auto messages = window_->platform.callsOf(Call::Message);
        QCOMPARE(messages.size(), std::size_t(1));
        QVERIFY2(messages[0].message.text.endsWith(root_ + QStringLiteral(": ") +
                                                   QStringLiteral("No such file or directory")),
                 qPrintable(messages[0].message.text));
        QCOMPARE(window_->form.sourceModel().count(), 0);
        QCOMPARE(window_->form.windowPointer().value(), MousePointer::Default);
    }

    void longListOfUnreadableFoldersIsCut() {
        QList<UnreadableFolder> folders;
        for (int i = 0; i < MaxListedSkippedFiles + 3; ++i) {
            folders.append({QByteArray("/data/f") + QByteArray::number(i),
                            QStringLiteral("Permission denied")});
        }
        const QStringList lines = UnreadableFoldersMessage(folders).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 1 + MaxListedSkippedFiles + 1);
        QCOMPARE(lines[0], QStringLiteral("These folders could not be read:"));
        QCOMPARE(lines[1], QStringLiteral("/data/f0: Permission denied"));
        QCOMPARE(lines.last(), QStringLiteral("... and 3 more."));
    }

    // Guards against a scan that goes on, or asks again, after its window has closed.
    void closingWhileAQuestionIsUpEndsTheScan() {
        QVERIFY(Build(root_, {"a.txt", "b.csv", "c.txt", "d.csv", "sub/e.txt"}));
        window_->platform.folderAnswers << FileName(root_);
        window_->platform.messageAnswers << MessageAnswer::Yes << MessageAnswer::Yes;
        window_->platform.onCall = [&](const ScriptedPlatform::Record& record) {
            if (record.call == Call::Message) {
                QVERIFY(window_->form.close());
            }
        };

        QTest::mouseClick(window_->form.addFolderButton(), Qt::LeftButton);

        // The Yes given after the close counts as Cancel: b.csv is not added, nothing after it.
        QCOMPARE(Entries(), Paths({"a.txt"}));
        QCOMPARE(window_->platform.callsOf(Call::Message).size(), std::size_t(1));
        QVERIFY(!window_->form.isVisible());
        QVERIFY(!window_->form.longWork().isRunning(LongWork::FolderScan));
        QCOMPARE(window_->form.windowPointer().value(), MousePointer::Default);
    }

    void closingWhileWalkingStopsAtOnce() {
        QVERIFY(Build(root_, {"a.txt", "one/b.txt", "one/deep/c.txt", "two/d.txt"}));
        window_->platform.folderAnswers << FileName(root_);
        int yieldsAfterClose = -1;
        window_->platform.onProcessEvents = [&] {
            if (yieldsAfterClose >= 0) {
                ++yieldsAfterClose;
            } else {
                yieldsAfterClose = 0;
                QVERIFY(window_->form.close());
            }
        };

        QTest::mouseClick(window_->form.addFolderButton(), Qt::LeftButton);

        QCOMPARE(yieldsAfterClose, 0);
        QCOMPARE(window_->form.sourceModel().count(), 0);
        QCOMPARE(window_->form.folderScan().lastScan().end, ScanEnd::Stopped);
        QVERIFY(window_->platform.callsOf(Call::Message).empty());
        QCOMPARE(window_->form.windowPointer().value(), MousePointer::Default);
    }

    // Guards against a scan that keeps the program alive (or crashes it) after its window
    // closed.
    void closingDuringAScanEndsTheProgram() {
        QStringList tree;
        for (int i = 0; i < 20; ++i) {
            tree << QStringLiteral("sub%1/f.txt").arg(i);
        }
        QVERIFY(Build(root_, tree));
        window_->platform.folderAnswers << FileName(root_);
        int turns = 0;
        window_->platform.onProcessEvents = [&] {
            if (++turns == 5 && window_->form.isVisible()) {
                window_->form.close();
            }
        };
        const LoopEnd end =
            RunEventLoop(&window_->form, [this] { window_->form.addFolderButton()->click(); });

        QVERIFY(!end.timedOut);
        QCOMPARE(end.status, 0);
        QCOMPARE(window_->form.folderScan().lastScan().end, ScanEnd::Stopped);
        QCOMPARE(window_->form.sourceModel().count(), 0);
    }

    void filesGoInLevelOrder() {
        QVERIFY(Build(root_, {"top.txt", "one/b.txt", "two/c.txt", "one/deep/d.txt",
                              "two/deep/e.txt", "one/deep/deeper/f.txt"}));
        window_->platform.folderAnswers << FileName(root_);
        QTest::mouseClick(window_->form.addFolderButton(), Qt::LeftButton);
        QCOMPARE(Entries(), Paths({"top.txt", "one/b.txt", "two/c.txt", "one/deep/d.txt",
                                   "two/deep/e.txt", "one/deep/deeper/f.txt"}));
    }

    void hiddenFilesListedHiddenFoldersSkipped() {
        QVERIFY(
            Build(root_, {".hidden.txt", ".directory", "a.txt", ".secret/b.txt", "open/.c.htm"}));
        window_->platform.folderAnswers << FileName(root_);
        window_->platform.messageAnswers << MessageAnswer::Yes;  // .directory, like desktop.ini
        QTest::mouseClick(window_->form.addFolderButton(), Qt::LeftButton);
        const auto questions = window_->platform.callsOf(Call::Message);
        QCOMPARE(questions.size(), std::size_t(1));
        QCOMPARE(questions[0].message.text, LoadQuestionText(QStringLiteral(".directory")));
        QCOMPARE(Entries(), Paths({".directory", ".hidden.txt", "a.txt", "open/.c.htm"}));
    }

    void linkLoopEnds() {
        QVERIFY(Build(root_, {"a.txt", "sub/b.txt"}));
        QVERIFY(QFile::link(QStringLiteral(".."), root_ + QStringLiteral("/sub/up")));
        QVERIFY(QFile::link(root_, root_ + QStringLiteral("/sub/again")));
        window_->platform.folderAnswers << FileName(root_);
        QTest::mouseClick(window_->form.addFolderButton(), Qt::LeftButton);
        QCOMPARE(Entries(), Paths({"a.txt", "sub/b.txt"}));
        QCOMPARE(window_->form.folderScan().lastScan().end, ScanEnd::Completed);
        QVERIFY(window_->platform.callsOf(Call::Message).empty());
    }

    void sameFolderTwiceListsItsFilesTwice() {
        QVERIFY(Build(root_, {"a.txt"}));
        window_->platform.folderAnswers << FileName(root_) << FileName(root_);
        QTest::mouseClick(window_->form.addFolderButton(), Qt::LeftButton);
        QTest::mouseClick(window_->form.addFolderButton(), Qt::LeftButton);
        QCOMPARE(Entries(), Paths({"a.txt", "a.txt"}));
    }

private:
    Moment now() const {
        return {window_->form.windowPointer().value(), window_->form.cursor().shape(),
                window_->form.sourceModel().count()};
    }

    QStringList Entries() const {
        QStringList entries;
        for (int i = 0; i < window_->form.sourceModel().count(); ++i) {
            entries.append(window_->form.sourceModel().pathAt(i));
        }
        return entries;
    }

    // The full paths of files under the chosen folder.
    QStringList Paths(const QStringList& relative) const {
        QStringList paths;
        for (const QString& path : relative) {
            paths.append(QDir::toNativeSeparators(root_ + QLatin1Char('/') + path));
        }
        return paths;
    }

    QString root_;
    std::optional<WindowFixture> window_;
};

QTEST_MAIN(FolderScanCommandTest)
#include "tst_source_commands_folder_scan.moc"
