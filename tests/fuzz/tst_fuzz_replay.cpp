// Every input the fuzzer was seeded with (fuzz/corpus/) or has found fault with
// (fuzz/regressions/) goes through the same engine-against-reference check, with this build.
#include "engine/chunk_reader.h"
#include "fuzz/engine_check.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <string>

namespace {

const QString FuzzDir = QStringLiteral(ORLENTA_FUZZ_DIR);

QFileInfoList StoredInputs(const QString& folder) {
    QFileInfoList inputs =
        QDir(FuzzDir + "/" + folder).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name);
    inputs.removeIf([](const QFileInfo& info) { return info.fileName() == "README.md"; });
    return inputs;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class FuzzReplayTest final : public QObject {
    Q_OBJECT

private slots:
    void storedInputAgrees_data();
    void storedInputAgrees();
    void corpusCrossesTheChunkSize();
    void everyRegressionIsNoted();
};

void FuzzReplayTest::storedInputAgrees_data() {
    QTest::addColumn<QString>("path");
    for (const QString folder : {"corpus", "regressions"}) {
        for (const QFileInfo& info : StoredInputs(folder)) {
            QTest::newRow(qPrintable(folder + "/" + info.fileName())) << info.filePath();
        }
    }
}

void FuzzReplayTest::storedInputAgrees() {
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    const QByteArray bytes = file.readAll();
    const std::string disagreement = orlenta::fuzz::FindEngineDisagreement(
        {bytes.constData(), static_cast<std::size_t>(bytes.size())});
    QVERIFY2(disagreement.empty(), disagreement.c_str());
}

// Guards the seeds that put the real chunk border under test: the small-chunk check cannot
// stand in for the 30000-byte reader and run.
void FuzzReplayTest::corpusCrossesTheChunkSize() {
    const QFileInfoList corpus = StoredInputs("corpus");
    QVERIFY2(corpus.size() >= 20, qPrintable(FuzzDir));
    qint64 total = 0;
    int pastOneBorder = 0;
    int pastTwoBorders = 0;
    for (const QFileInfo& info : corpus) {
        total += info.size();
        pastOneBorder += info.size() > qint64(orlenta::ChunkSize) ? 1 : 0;
        pastTwoBorders += info.size() > qint64(2 * orlenta::ChunkSize) ? 1 : 0;
    }
    QVERIFY(pastOneBorder >= 2);
    QVERIFY(pastTwoBorders >= 1);
    QVERIFY2(total < 2 * 1024 * 1024, "the corpus is meant to stay small");
}

// Guards against a finding stored without the note of what it guards.
void FuzzReplayTest::everyRegressionIsNoted() {
    const QByteArray notes = ReadAll(FuzzDir + "/regressions/README.md");
    QVERIFY(!notes.isEmpty());
    for (const QFileInfo& info : StoredInputs("regressions")) {
        QVERIFY2(notes.contains(info.fileName().toUtf8()), qPrintable(info.fileName()));
    }
}

QTEST_GUILESS_MAIN(FuzzReplayTest)
#include "tst_fuzz_replay.moc"
