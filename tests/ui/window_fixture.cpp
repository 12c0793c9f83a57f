#include "tests/ui/window_fixture.h"

#include "results/results_model.h"
#include "ui/window/press_button.h"
#include "ui/window/report_list_view.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QTest>
#include <QTimer>

#include <algorithm>

namespace orlenta {

namespace {

// The temporary folder stands for the program folder, named before the window is made: the
// pointer pictures the window loads at start are looked for there, and a test can put them in.
ScriptedPlatform& WithProgramFolder(ScriptedPlatform& platform, const QString& folder) {
    platform.folder = folder;
    return platform;
}

}  // namespace

WindowFixture::WindowFixture() : form(WithProgramFolder(platform, dir.path())) {
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) {
        qFatal("the window was not shown");
    }
}

PressButton* WindowFixture::button(int check) const {
    return form.findChild<PressButton*>(QStringLiteral("Check%1").arg(check));
}

void WindowFixture::press(int check) {
    QTest::mouseClick(button(check), Qt::LeftButton);
}

void WindowFixture::setResults(const QStringList& addresses) {
    form.resultsModel().clear();
    for (const QString& address : addresses) {
        form.resultsModel().append(address.toStdString());
    }
}

QStringList WindowFixture::results() const {
    QStringList addresses;
    for (int i = 0; i < form.resultsModel().count(); ++i) {
        addresses << QString::fromStdString(std::string(form.resultsModel().addressAt(i)));
    }
    return addresses;
}

namespace {

QPoint RowCentre(ReportListView* view, int row) {
    const QModelIndex index = view->model()->index(row, 0);
    view->scrollTo(index);
    return view->visualRect(index).center();
}

}  // namespace

void DoubleClick(QWidget* widget, QPoint at) {
    // What a real double-click delivers: QTest::mouseDClick alone sends only the second press,
    // which a list view takes for a plain press.
    QTest::mouseClick(widget, Qt::LeftButton, {}, at);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, at);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
}

void WindowFixture::clickResult(int row) {
    ReportListView* view = form.resultsList();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, RowCentre(view, row));
}

void WindowFixture::doubleClickResult(int row) {
    DoubleClick(form.resultsList()->viewport(), RowCentre(form.resultsList(), row));
}

QList<int> WindowFixture::selectedResults() const {
    QList<int> rows;
    for (const QModelIndex& index : form.resultsList()->selectionModel()->selectedRows()) {
        rows << index.row();
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::vector<ScriptedPlatform::Record> WindowFixture::messages() const {
    return platform.callsOf(ScriptedPlatform::Call::Message);
}

std::vector<ScriptedPlatform::Record> WindowFixture::notices() const {
    std::vector<ScriptedPlatform::Record> ok;
    for (const ScriptedPlatform::Record& record : messages()) {
        if (record.message.buttons == MessageButtons::Ok) {
            ok.push_back(record);
        }
    }
    return ok;
}

QStringList NumberedAddresses(int count) {
    QStringList addresses;
    addresses.reserve(count);
    for (int i = 0; i < count; ++i) {
        addresses << QStringLiteral("person%1@example.com").arg(i);
    }
    return addresses;
}

QByteArray ListFileBytes(const QStringList& addresses) {
    QByteArray bytes("");
    for (const QString& address : addresses) {
        bytes += address.toLatin1() + "\r\n";
    }
    return bytes;
}

QByteArray CommaFileBytes(const QStringList& addresses) {
    return addresses.join(QLatin1Char(',')).toLatin1() + "\r\n";
}

QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QByteArray bytes = file.readAll();
    // A file that exists but is empty reads as an empty, not a null, array.
    return bytes.isNull() ? QByteArray("") : bytes;
}

bool PutBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList FolderEntries(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

LoopEnd RunEventLoop(QObject* context, const std::function<void()>& start) {
    QTimer::singleShot(0, context, start);
    LoopEnd end;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&end] {
        end.timedOut = true;
        QCoreApplication::exit(1);
    });
    watchdog.start(20000);
    end.status = QCoreApplication::exec();
    return end;
}

}  // namespace orlenta
