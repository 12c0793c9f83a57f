#include "results/results_model.h"
#include "tests/ui/window_fixture.h"
#include "ui/commands/save_commands.h"
#include "ui/pointer/mouse_pointer.h"
#include "ui/window/press_button.h"
#include "ui/window/report_list_view.h"

#include <QScopeGuard>
#include <QTest>

#include <unistd.h>

#include <cstdio>
#include <optional>

using namespace orlenta;
using Call = ScriptedPlatform::Call;

namespace {

// Reading and writing under a name's own bytes, which QFile's text names cannot all give.
bool PutRawBytes(const QByteArray& path, const QByteArray& bytes) {
    std::FILE* file = std::fopen(path.constData(), "wb");
    const bool written = file && std::fwrite(bytes.constData(), 1, bytes.size(), file) ==
                                     static_cast<std::size_t>(bytes.size());
    return file && std::fclose(file) == 0 && written;
}

QByteArray ReadRawBytes(const QByteArray& path) {
    std::FILE* file = std::fopen(path.constData(), "rb");
    if (!file) {
        return {};
    }
    QByteArray bytes("");
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        bytes.append(buffer, static_cast<qsizetype>(got));
    }
    std::fclose(file);
    return bytes;
}

constexpr int CommaButton = 4;  // Check4, "Save As Comma Delimited"
constexpr int ListButton = 6;   // Check6, "Save Results As List"

QByteArray Expected(int check, const QStringList& addresses) {
    return check == ListButton ? ListFileBytes(addresses) : CommaFileBytes(addresses);
}

void AddBothButtons() {
    QTest::addColumn<int>("check");
    QTest::newRow("list") << ListButton;
    QTest::newRow("comma-delimited") << CommaButton;
}

}  // namespace

class SaveCommandsTest final : public QObject {
    Q_OBJECT

private slots:
    void init() { window_.emplace(); }
    void cleanup() { window_.reset(); }

    void writesTheFormat_data() {
        QTest::addColumn<int>("check");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QByteArray>("bytes");
        const QStringList none;
        const QStringList one{"solo@example.com"};
        const QStringList three{"a@x.org", "B.c@example.com", "d_e@mail.example.net"};
        QTest::newRow("list, none") << ListButton << none << QByteArray("");
        QTest::newRow("list, one") << ListButton << one << QByteArray("solo@example.com\r\n");
        QTest::newRow("list, three")
            << ListButton << three
            << QByteArray("a@x.org\r\nB.c@example.com\r\nd_e@mail.example.net\r\n");
        QTest::newRow("comma, none") << CommaButton << none << QByteArray("\r\n");
        QTest::newRow("comma, one") << CommaButton << one << QByteArray("solo@example.com\r\n");
        QTest::newRow("comma, three")
            << CommaButton << three
            << QByteArray("a@x.org,B.c@example.com,d_e@mail.example.net\r\n");
    }
    void writesTheFormat() {
        QFETCH(int, check);
        QFETCH(QStringList, addresses);
        QFETCH(QByteArray, bytes);
        window_->setResults(addresses);
        const QString path = window_->filePath(QStringLiteral("out.txt"));
        window_->platform.saveAnswers << FileName(path);

        window_->press(check);

        QCOMPARE(ReadBytes(path), bytes);
        QCOMPARE(FolderEntries(window_->dir.path()), QStringList{"out.txt"});
        // A new file: no question, and no word of success either.
        QVERIFY(window_->messages().empty());
        QCOMPARE(window_->button(check)->value(), 0);
        QCOMPARE(window_->results(), addresses);
    }

    void saveDialogIsSetUpAnew_data() { AddBothButtons(); }
    void saveDialogIsSetUpAnew() {
        QFETCH(int, check);
        window_->setResults({"a@example.com"});
        window_->platform.saveAnswers << FileName(window_->filePath(QStringLiteral("first.txt")))
                                      << FileName(window_->filePath(QStringLiteral("second.txt")));
        window_->press(check);
        window_->press(check);

        const auto dialogs = window_->platform.callsOf(Call::SaveDialog);
        QCOMPARE(dialogs.size(), std::size_t(2));  // one per press
        for (const ScriptedPlatform::Record& dialog : dialogs) {
            QCOMPARE(dialog.owner, &window_->form);
            QCOMPARE(dialog.dialog.title, QStringLiteral("Save List"));
            QCOMPARE(dialog.dialog.nameFilters,
                     (QStringList{"Text Files (*.txt) (*.txt)", "All Files (*.*) (*)"}));
        }
        QVERIFY(window_->platform.callsOf(Call::OpenDialog).empty());
    }

    void cancelTouchesNothing_data() { AddBothButtons(); }
    void cancelTouchesNothing() {
        QFETCH(int, check);
        window_->setResults({"a@example.com", "b@example.com"});
        const QString existing = window_->filePath(QStringLiteral("keep.txt"));
        QVERIFY(PutBytes(existing, "old"));
        window_->platform.saveAnswers << FileName(QString());

        window_->press(check);

        QCOMPARE(window_->platform.callsOf(Call::SaveDialog).size(), std::size_t(1));
        QVERIFY(window_->messages().empty());
        QCOMPARE(FolderEntries(window_->dir.path()), QStringList{"keep.txt"});
        QCOMPARE(ReadBytes(existing), QByteArray("old"));
        QCOMPARE(window_->platform.processEventsCount, 0);
        QCOMPARE(window_->form.windowPointer().value(), MousePointer::Default);
    }

    void yesReplacesTheWholeFile_data() { AddBothButtons(); }
    void yesReplacesTheWholeFile() {
        QFETCH(int, check);
        const QStringList addresses{"a@example.com", "b@example.com"};
        window_->setResults(addresses);
        const QString path = window_->filePath(QStringLiteral("out.txt"));
        QVERIFY(PutBytes(path, QByteArray(4096, 'x')));  // longer than what replaces it
        window_->platform.saveAnswers << FileName(path);
        window_->platform.messageAnswers << MessageAnswer::Yes;

        window_->press(check);

        const auto messages = window_->messages();
        QCOMPARE(messages.size(), std::size_t(1));
        QCOMPARE(messages[0].message.text, QStringLiteral("Are you sure you wish to overwrite ") +
                                               path + QStringLiteral(" ?"));
        QCOMPARE(messages[0].message.caption, QStringLiteral("Orlenta"));
        QVERIFY(messages[0].message.buttons == MessageButtons::YesNo);
        QCOMPARE(messages[0].owner, &window_->form);
        // Guards against an overwrite that leaves the old file's tail behind.
        QCOMPARE(ReadBytes(path), Expected(check, addresses));
        QCOMPARE(FolderEntries(window_->dir.path()), QStringList{"out.txt"});
    }

    void noLeavesTheFileAlone_data() { AddBothButtons(); }
    void noLeavesTheFileAlone() {
        QFETCH(int, check);
        window_->setResults({"a@example.com"});
        const QString path = window_->filePath(QStringLiteral("out.txt"));
        const QByteArray old("old content\r\nsecond line\r\n");
        QVERIFY(PutBytes(path, old));
        window_->platform.saveAnswers << FileName(path);
        window_->platform.messageAnswers << MessageAnswer::No;

        window_->press(check);

        QCOMPARE(window_->messages().size(), std::size_t(1));  // the question, nothing more
        QCOMPARE(window_->platform.callsOf(Call::SaveDialog).size(), std::size_t(1));
        QCOMPARE(ReadBytes(path), old);
        QCOMPARE(FolderEntries(window_->dir.path()), QStringList{"out.txt"});
        QCOMPARE(window_->platform.processEventsCount, 0);
        QCOMPARE(window_->form.windowPointer().value(), MousePointer::Default);
    }

    void secondSaveToTheSamePathAsks_data() { AddBothButtons(); }
    void secondSaveToTheSamePathAsks() {
        QFETCH(int, check);
        window_->setResults({"a@example.com"});
        const QString path = window_->filePath(QStringLiteral("out.txt"));
        window_->platform.saveAnswers << FileName(path) << FileName(path);
        window_->platform.messageAnswers << MessageAnswer::Yes;

        window_->press(check);
        QVERIFY(window_->messages().empty());
        window_->form.resultsModel().append("b@example.com");
        window_->press(check);

        const auto messages = window_->messages();
        QCOMPARE(messages.size(), std::size_t(1));
        QCOMPARE(messages[0].message.text, OverwriteQuestion(path));
        QCOMPARE(ReadBytes(path), Expected(check, {"a@example.com", "b@example.com"}));
    }

    // Guards against a default suffix, and against a name that is not UTF-8 being written (or
    // looked for before the overwrite question) under another name: the name is used exactly
    // as the dialog gives it.
    void nameIsUsedAsGiven_data() {
        QTest::addColumn<int>("check");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("exists");
        for (const int check : {ListButton, CommaButton}) {
            const char* button = check == ListButton ? "list" : "comma";
            QTest::addRow("%s, no extension", button) << check << QByteArray("results") << false;
            QTest::addRow("%s, not UTF-8, new", button)
                << check << QByteArray("r\xe9sultats.txt") << false;
            QTest::addRow("%s, not UTF-8, replaced", button)
                << check << QByteArray("r\xe9sultats.txt") << true;
        }
    }
    void nameIsUsedAsGiven() {
        QFETCH(int, check);
        QFETCH(QByteArray, name);
        QFETCH(bool, exists);
        window_->setResults({"a@example.com"});
        const QByteArray path = FileName(window_->dir.path()) + '/' + name;
        // QTemporaryDir removes its files by their names as text, which miss this one.
        const auto removeByBytes = qScopeGuard([&path] { ::unlink(path.constData()); });
        if (exists) {
            QVERIFY(PutRawBytes(path, "old"));
            window_->platform.messageAnswers << MessageAnswer::Yes;
        }
        window_->platform.saveAnswers << path;

        window_->press(check);

        QCOMPARE(window_->messages().size(), std::size_t(exists ? 1 : 0));  // the question
        // Qt lists no name that is not UTF-8, so only a name turned into text would show here.
        const bool utf8 = QString::fromUtf8(name).toUtf8() == name;
        QCOMPARE(FolderEntries(window_->dir.path()),
                 utf8 ? QStringList{QString::fromUtf8(name)} : QStringList());
        QCOMPARE(ReadRawBytes(path), Expected(check, {"a@example.com"}));
    }

    // Guards against a save that disturbs the list it reads.
    void listAndSelectionStayAsTheyWere_data() { AddBothButtons(); }
    void listAndSelectionStayAsTheyWere() {
        QFETCH(int, check);
        const QStringList addresses{"c@example.com", "a@example.com", "b@example.com"};
        window_->setResults(addresses);
        window_->clickResult(1);
        QCOMPARE(window_->selectedResults(), QList<int>{1});
        const QModelIndex current = window_->form.resultsList()->currentIndex();
        window_->platform.saveAnswers << FileName(window_->filePath(QStringLiteral("out.txt")));

        window_->press(check);

        QCOMPARE(window_->results(), addresses);
        QCOMPARE(window_->selectedResults(), QList<int>{1});
        QCOMPARE(window_->form.resultsList()->currentIndex(), current);
        QCOMPARE(ReadBytes(window_->filePath(QStringLiteral("out.txt"))),
                 Expected(check, addresses));
    }

    // Guards against the old limit of 32,766 addresses (16-bit positions).
    void largeListsAreSavedWhole_data() { AddBothButtons(); }
    void largeListsAreSavedWhole() {
        QFETCH(int, check);
        const QStringList addresses = NumberedAddresses(100000);
        window_->setResults(addresses);
        window_->platform.clockStep = {};  // one turn of the event loop, not 100,000
        const QString path = window_->filePath(QStringLiteral("big.txt"));
        window_->platform.saveAnswers << FileName(path);

        window_->press(check);

        QCOMPARE(ReadBytes(path), Expected(check, addresses));
        QVERIFY(window_->messages().empty());
    }

    void listSaveNeitherYieldsNorShowsTheHourglass() {
        window_->setResults({"a@example.com", "b@example.com"});
        // The pointer as the hand cursor leaves it over a button.
        window_->form.windowPointer().set(MousePointer::Custom);
        const QString path = window_->filePath(QStringLiteral("out.txt"));
        QVERIFY(PutBytes(path, "old"));
        window_->platform.saveAnswers << FileName(path);
        window_->platform.messageAnswers << MessageAnswer::Yes;
        std::optional<MousePointer> atQuestion;
        window_->platform.onCall = [this, &atQuestion](const ScriptedPlatform::Record& record) {
            if (record.call == Call::Message) {
                atQuestion = window_->form.windowPointer().value();
            }
        };

        window_->press(ListButton);

        QCOMPARE(atQuestion, std::optional(MousePointer::Custom));
        QCOMPARE(window_->form.windowPointer().value(), MousePointer::Custom);
        QCOMPARE(window_->platform.processEventsCount, 0);
        QCOMPARE(ReadBytes(path), QByteArray("a@example.com\r\nb@example.com\r\n"));
    }

private:
    std::optional<WindowFixture> window_;
};

QTEST_MAIN(SaveCommandsTest)
#include "tst_save_commands.moc"
