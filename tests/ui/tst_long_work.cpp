// Long operations pressed inside one another: the run, the folder scan and the two saves yield
// (or ask) while they work, and every button stays live meanwhile.
#include "results/results_model.h"
#include "sources/source_list_model.h"
#include "tests/ui/window_fixture.h"
#include "ui/commands/long_work.h"
#include "ui/pointer/mouse_pointer.h"

#include <QDir>
#include <QTest>

#include <optional>

using namespace orlenta;
using Call = ScriptedPlatform::Call;

namespace {

constexpr int RunButton = 2;    // Check2, "Delete Duplicate Emails"
constexpr int CommaButton = 4;  // Check4, "Save As Comma Delimited"
constexpr int ScanButton = 5;   // Check5, "Add All File(s) In Folder"
constexpr int ListButton = 6;   // Check6, "Save Results As List"

struct Operation {
    LongWork work;
    int button;
};

const Operation Run{LongWork::Run, RunButton};
const Operation Scan{LongWork::FolderScan, ScanButton};
const Operation ListSave{LongWork::ListSave, ListButton};
const Operation CommaSave{LongWork::CommaSave, CommaButton};

}  // namespace

Q_DECLARE_METATYPE(Operation)

class LongWorkTest final : public QObject {
    Q_OBJECT

private slots:
    void init() {
        window_.emplace();
        QVERIFY(PutBytes(window_->filePath("source.txt"), "one@example.com two@example.com\r\n"));
        QVERIFY(QDir().mkpath(window_->filePath("chosen/sub")));
        QVERIFY(PutBytes(window_->filePath("chosen/x.txt"), ""));
        QVERIFY(PutBytes(window_->filePath("chosen/sub/y.txt"), ""));
        window_->form.sourceModel().append(window_->filePath("source.txt"));
        window_->setResults({"a@example.com", "b@example.com", "c@example.com"});
        window_->platform.folderAnswers << FileName(window_->filePath("chosen"))
                                        << FileName(window_->filePath("chosen"));
        window_->platform.saveAnswers << FileName(window_->filePath("outer.txt"))
                                      << FileName(window_->filePath("inner.txt"));
    }
    void cleanup() { window_.reset(); }

    // Each pair of long operations as long_work.h's table has it. Guards against a run that
    // ends inside a comma-delimited save or a folder scan taking the outer operation's
    // hourglass down, and against a save inside a save, whose outer half would write an older
    // copy of the list last.
    void pressedInsideAnother_data() {
        QTest::addColumn<Operation>("outer");
        QTest::addColumn<Operation>("inner");
        QTest::addColumn<bool>("starts");
        QTest::newRow("run in run") << Run << Run << false;
        QTest::newRow("scan in run") << Run << Scan << true;
        QTest::newRow("list save in run") << Run << ListSave << true;
        QTest::newRow("comma save in run") << Run << CommaSave << true;
        QTest::newRow("run in scan") << Scan << Run << true;
        QTest::newRow("scan in scan") << Scan << Scan << false;
        QTest::newRow("list save in scan") << Scan << ListSave << true;
        QTest::newRow("comma save in scan") << Scan << CommaSave << true;
        QTest::newRow("run in comma save") << CommaSave << Run << true;
        QTest::newRow("scan in comma save") << CommaSave << Scan << true;
        QTest::newRow("list save in comma save") << CommaSave << ListSave << false;
        QTest::newRow("comma save in comma save") << CommaSave << CommaSave << false;
    }
    void pressedInsideAnother() {
        QFETCH(Operation, outer);
        QFETCH(Operation, inner);
        QFETCH(bool, starts);
        std::optional<bool> started;
        std::optional<MousePointer> afterInner;
        window_->platform.onProcessEvents = [&] {
            if (started || !window_->form.longWork().isRunning(outer.work)) {
                return;
            }
            const int results = window_->form.resultsModel().count();
            const std::size_t pickers = window_->platform.callsOf(Call::FolderPicker).size();
            const std::size_t dialogs = window_->platform.callsOf(Call::SaveDialog).size();
            started = false;  // set first: the inner operation yields as well
            window_->press(inner.button);
            started = inner.work == LongWork::Run ? window_->form.resultsModel().count() > results
                      : inner.work == LongWork::FolderScan
                          ? window_->platform.callsOf(Call::FolderPicker).size() > pickers
                          : window_->platform.callsOf(Call::SaveDialog).size() > dialogs;
            afterInner = window_->form.windowPointer().value();
        };

        window_->press(outer.button);

        QCOMPARE(started, std::optional(starts));
        QCOMPARE(afterInner, std::optional(MousePointer::Hourglass));  // the outer still works
        QCOMPARE(window_->form.windowPointer().value(), MousePointer::Default);
        QVERIFY(!window_->form.longWork().isRunning(outer.work));
        QVERIFY(!window_->form.longWork().isRunning(inner.work));
        if (outer.work == LongWork::CommaSave) {
            // Written from the copy taken when it began, whatever ran inside it.
            QCOMPARE(ReadBytes(window_->filePath("outer.txt")),
                     QByteArray("a@example.com,b@example.com,c@example.com\r\n"));
        }
        if (!starts) {
            QVERIFY(ReadBytes(window_->filePath("inner.txt")).isNull());
        }
    }

private:
    std::optional<WindowFixture> window_;
};

QTEST_MAIN(LongWorkTest)
#include "tst_long_work.moc"
