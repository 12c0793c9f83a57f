#include "results/results_model.h"
#include "sources/source_list_model.h"
#include "tests/ui/window_fixture.h"
#include "ui/commands/save_commands.h"
#include "ui/pointer/mouse_pointer.h"
#include "ui/window/press_button.h"

#include <QTest>

#include <optional>

using namespace orlenta;
using Call = ScriptedPlatform::Call;

namespace {

constexpr int RunButton = 2;    // Check2, "Delete Duplicate Emails"
constexpr int CommaButton = 4;  // Check4, "Save As Comma Delimited"
constexpr int ListButton = 6;   // Check6, "Save Results As List"
constexpr int ClearButton = 7;  // Check7, "Clear List" under the results

struct PointerSeen {
    MousePointer value;
    Qt::CursorShape shape;
    friend bool operator==(const PointerSeen& a, const PointerSeen& b) {
        return a.value == b.value && a.shape == b.shape;
    }
};

}  // namespace

// "Save As Comma Delimited": the hourglass, the yields while the line is built, and what the
// window may do meanwhile.
class SaveCommaTest final : public QObject {
    Q_OBJECT

private slots:
    void init() { window_.emplace(); }
    void cleanup() { window_.reset(); }

    void hourglassFromTheQuestionToTheEnd_data() {
        QTest::addColumn<MessageAnswer>("answer");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("yes") << MessageAnswer::Yes << QByteArray("a@example.com,b@example.com\r\n");
        QTest::newRow("no") << MessageAnswer::No << QByteArray("old");
    }
    void hourglassFromTheQuestionToTheEnd() {
        QFETCH(MessageAnswer, answer);
        QFETCH(QByteArray, bytes);
        window_->setResults({"a@example.com", "b@example.com"});
        const QString path = window_->filePath(QStringLiteral("out.txt"));
        QVERIFY(PutBytes(path, "old"));
        window_->platform.saveAnswers << FileName(path);
        window_->platform.messageAnswers << answer;
        std::vector<PointerSeen> atDialog;
        std::vector<PointerSeen> atQuestion;
        window_->platform.onCall = [&](const ScriptedPlatform::Record& record) {
            if (record.call == Call::SaveDialog) {
                atDialog.push_back(seen());
            } else if (record.call == Call::Message) {
                atQuestion.push_back(seen());
            }
        };
        std::vector<PointerSeen> atYield;
        window_->platform.onProcessEvents = [&] { atYield.push_back(seen()); };

        window_->press(CommaButton);

        const PointerSeen hourglass{MousePointer::Hourglass, Qt::WaitCursor};
        QCOMPARE(atDialog, (std::vector<PointerSeen>{{MousePointer::Default, Qt::ArrowCursor}}));
        QCOMPARE(atQuestion, std::vector<PointerSeen>{hourglass});
        for (const PointerSeen& moment : atYield) {
            QVERIFY(moment == hourglass);
        }
        QCOMPARE(seen(), (PointerSeen{MousePointer::Default, Qt::ArrowCursor}));
        QCOMPARE(ReadBytes(path), bytes);
    }

    // Guards against an hourglass left up when the save fails.
    void hourglassEndsWhenTheSaveFails() {
        window_->setResults({"a@example.com"});
        window_->platform.saveAnswers << FileName(window_->dir.path());  // a folder
        window_->platform.messageAnswers << MessageAnswer::Yes;
        std::optional<PointerSeen> atNotice;
        window_->platform.onCall = [&](const ScriptedPlatform::Record& record) {
            if (record.call == Call::Message && record.message.buttons == MessageButtons::Ok) {
                atNotice = seen();
            }
        };
        window_->press(CommaButton);
        QCOMPARE(window_->notices().size(), std::size_t(1));
        QCOMPARE(atNotice->value, MousePointer::Hourglass);
        QCOMPARE(seen(), (PointerSeen{MousePointer::Default, Qt::ArrowCursor}));
    }

    void yieldsOnceBeforeEachAddress_data() {
        QTest::addColumn<int>("count");
        QTest::newRow("none") << 0;
        QTest::newRow("one") << 1;
        QTest::newRow("five") << 5;
    }
    void yieldsOnceBeforeEachAddress() {
        QFETCH(int, count);
        window_->setResults(NumberedAddresses(count));
        const QString path = window_->filePath(QStringLiteral("out.txt"));
        window_->platform.saveAnswers << FileName(path);
        int yieldsBeforeTheFile = 0;
        window_->platform.onProcessEvents = [&] {
            // The line is built whole before the file is touched.
            if (ReadBytes(path).isNull()) {
                ++yieldsBeforeTheFile;
            }
        };
        window_->press(CommaButton);
        QCOMPARE(window_->platform.processEventsCount, count);
        QCOMPARE(yieldsBeforeTheFile, count);
        QCOMPARE(ReadBytes(path), CommaFileBytes(NumberedAddresses(count)));
    }

    // Guards against a save that reads the list by position while it changes under the yields.
    void changesDuringTheYieldsDoNotReachTheFile_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("listAfter");
        QTest::newRow("Clear List") << "clear" << QStringList();
        QTest::newRow("double-click") << "remove" << QStringList{"b@example.com", "c@example.com"};
        QTest::newRow("new address")
            << "append"
            << QStringList{"a@example.com", "b@example.com", "c@example.com", "new@example.com"};
    }
    void changesDuringTheYieldsDoNotReachTheFile() {
        QFETCH(QString, change);
        QFETCH(QStringList, listAfter);
        const QStringList addresses{"a@example.com", "b@example.com", "c@example.com"};
        window_->setResults(addresses);
        const QString path = window_->filePath(QStringLiteral("out.txt"));
        window_->platform.saveAnswers << FileName(path);
        bool changed = false;
        window_->platform.onProcessEvents = [&] {
            if (changed) {
                return;
            }
            changed = true;
            if (change == QLatin1String("clear")) {
                window_->press(ClearButton);
            } else if (change == QLatin1String("remove")) {
                window_->doubleClickResult(0);
            } else {
                window_->form.resultsModel().append("new@example.com");
            }
        };

        window_->press(CommaButton);

        QVERIFY(changed);
        QCOMPARE(window_->results(), listAfter);
        QCOMPARE(ReadBytes(path), CommaFileBytes(addresses));
    }

    void closingDuringTheSaveWritesNothing() {
        window_->setResults(NumberedAddresses(10));
        const QString path = window_->filePath(QStringLiteral("out.txt"));
        QVERIFY(PutBytes(path, "old"));
        window_->platform.saveAnswers << FileName(path);
        window_->platform.messageAnswers << MessageAnswer::Yes;
        int yieldsAfterClose = -1;
        window_->platform.onProcessEvents = [&] {
            if (yieldsAfterClose >= 0) {
                ++yieldsAfterClose;
            } else if (window_->platform.processEventsCount == 3) {
                yieldsAfterClose = 0;
                QVERIFY(window_->form.close());
            }
        };

        window_->press(CommaButton);

        QCOMPARE(yieldsAfterClose, 0);  // given up at once
        QCOMPARE(ReadBytes(path), QByteArray("old"));
        QCOMPARE(FolderEntries(window_->dir.path()), QStringList{"out.txt"});
        QCOMPARE(window_->messages().size(), std::size_t(1));  // the question only
        QCOMPARE(window_->form.windowPointer().value(), MousePointer::Default);
        QCOMPARE(window_->results().size(), 10);
    }

    // Guards against a save that keeps the program alive (or crashes it) after its window closed.
    void closingDuringTheSaveEndsTheProgram() {
        window_->setResults(NumberedAddresses(50));
        const QString path = window_->filePath(QStringLiteral("out.txt"));
        window_->platform.saveAnswers << FileName(path);
        window_->platform.onProcessEvents = [&] {
            if (window_->platform.processEventsCount == 5 && window_->form.isVisible()) {
                window_->form.close();
            }
        };
        const LoopEnd end = RunEventLoop(&window_->form, [this] { window_->press(CommaButton); });

        QVERIFY(!end.timedOut);
        QCOMPARE(end.status, 0);
        QVERIFY(ReadBytes(path).isNull());
        QVERIFY(window_->messages().empty());
    }

    // A save pressed while "Delete Duplicate Emails" runs writes what was found so far.
    void savingDuringARunWritesWhatWasFoundSoFar_data() {
        QTest::addColumn<int>("check");
        QTest::newRow("list") << ListButton;
        QTest::newRow("comma-delimited") << CommaButton;
    }
    void savingDuringARunWritesWhatWasFoundSoFar() {
        QFETCH(int, check);
        const QString source = window_->filePath(QStringLiteral("source.txt"));
        QVERIFY(PutBytes(source,
                         "one@example.com two@example.com\r\nthree@example.com "
                         "four@example.com\r\n"));
        window_->form.sourceModel().append(source);
        const QString path = window_->filePath(QStringLiteral("out.txt"));
        window_->platform.saveAnswers << FileName(path);
        QStringList whenSaved;
        window_->platform.onProcessEvents = [&] {
            if (whenSaved.isEmpty() && window_->form.resultsModel().count() == 2) {
                whenSaved = window_->results();
                window_->press(check);
            }
        };

        window_->press(RunButton);

        QCOMPARE(whenSaved, (QStringList{"one@example.com", "two@example.com"}));
        QCOMPARE(ReadBytes(path),
                 check == ListButton ? ListFileBytes(whenSaved) : CommaFileBytes(whenSaved));
        QCOMPARE(window_->results(), (QStringList{"one@example.com", "two@example.com",
                                                  "three@example.com", "four@example.com"}));
        QVERIFY(window_->messages().empty());
    }

private:
    PointerSeen seen() const {
        return {window_->form.windowPointer().value(), window_->form.cursor().shape()};
    }

    std::optional<WindowFixture> window_;
};

QTEST_MAIN(SaveCommaTest)
#include "tst_save_comma.moc"
