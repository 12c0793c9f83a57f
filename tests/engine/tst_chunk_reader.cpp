// Reading a source in 30000-byte chunks: the chunk table, byte fidelity, 64-bit lengths, streams
// and the paths that cannot be read.
#include "engine/chunk_reader.h"
#include "tests/engine/test_files.h"
#include "tests/support/read_file_chunks.h"

#include <QElapsedTimer>
#include <QList>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace orlenta;
using namespace orlenta::test;

class ChunkReaderTest final : public QObject {
    Q_OBJECT

private slots:
    void chunksOfAFile_data();
    void chunksOfAFile();
    void crLfAcrossTheBorderIsSplit();
    void layoutOfLargeLengths_data();
    void layoutOfLargeLengths();
    void fileLargerThan2GiBIsReadToTheEnd();
    void growingFileIsReadToItsLengthAtOpen();
    void shrinkingFileIsReported();
    void streamIsReadInWholeChunks_data();
    void streamIsReadInWholeChunks();
    void unreadablePaths_data();
    void unreadablePaths();
};

void ChunkReaderTest::chunksOfAFile_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<QList<int>>("sizes");

    QTest::newRow("0") << 0 << QList<int>{};
    QTest::newRow("1") << 1 << QList<int>{1};
    QTest::newRow("29999") << 29999 << QList<int>{29999};
    QTest::newRow("30000") << 30000 << QList<int>{30000};
    QTest::newRow("30001") << 30001 << QList<int>{30000, 1};
    QTest::newRow("45000") << 45000 << QList<int>{30000, 15000};
    QTest::newRow("60000") << 60000 << QList<int>{30000, 30000};
    QTest::newRow("100000") << 100000 << QList<int>{30000, 30000, 30000, 10000};
}

void ChunkReaderTest::chunksOfAFile() {
    // Guards the chunk table, byte fidelity (NUL, bytes above 127) and the yield before each
    // full chunk only.
    QFETCH(int, length);
    QFETCH(QList<int>, sizes);
    QTemporaryDir dir;
    const QString path = dir.filePath("data.bin");
    const QByteArray content = PatternedBytes(length);
    QVERIFY(WriteBytes(path, content));

    int yields = 0;
    const auto chunks = ReadFileChunks(Local(path), [&yields] { ++yields; });
    QList<int> actual;
    QByteArray joined;
    for (const std::string& chunk : chunks) {
        actual.append(static_cast<int>(chunk.size()));
        joined.append(chunk.data(), static_cast<qsizetype>(chunk.size()));
    }
    QCOMPARE(actual, sizes);
    QCOMPARE(joined, content);
    QCOMPARE(yields, length / 30000);

    ChunkReader reader(Local(path));
    QVERIFY(reader.ok());
    std::string chunk;
    for (int size : sizes) {
        QCOMPARE(reader.nextIsFull(), size == 30000);
        QVERIFY(reader.next(chunk));
        QCOMPARE(static_cast<int>(chunk.size()), size);
    }
    QVERIFY(!reader.nextIsFull());
    QVERIFY(!reader.next(chunk));
    QVERIFY(reader.ok());
}

void ChunkReaderTest::crLfAcrossTheBorderIsSplit() {
    QTemporaryDir dir;
    const QString path = dir.filePath("crlf.txt");
    QByteArray content(29999, 'x');
    content += "\r\nann@example.com";
    QVERIFY(WriteBytes(path, content));
    const auto chunks = ReadFileChunks(Local(path));
    QCOMPARE(chunks.size(), std::size_t{2});
    QCOMPARE(chunks[0].back(), '\r');
    QCOMPARE(chunks[1], std::string("\nann@example.com"));
}

void ChunkReaderTest::layoutOfLargeLengths_data() {
    QTest::addColumn<quint64>("length");
    QTest::addColumn<quint64>("fullChunks");
    QTest::addColumn<int>("lastChunkSize");

    QTest::newRow("largest 32-bit signed") << Q_UINT64_C(2147483647) << Q_UINT64_C(71582) << 23647;
    QTest::newRow("2 GiB") << Q_UINT64_C(2147483648) << Q_UINT64_C(71582) << 23648;
    QTest::newRow("4 GiB") << Q_UINT64_C(4294967296) << Q_UINT64_C(143165) << 17296;
    QTest::newRow("4 GiB + 1") << Q_UINT64_C(4294967297) << Q_UINT64_C(143165) << 17297;
    QTest::newRow("1 TiB + 12345") << Q_UINT64_C(1099511640121) << Q_UINT64_C(36650388) << 121;
    QTest::newRow("multiple of 30000") << Q_UINT64_C(3000000000) << Q_UINT64_C(100000) << 0;
}

void ChunkReaderTest::layoutOfLargeLengths() {
    // Guards against a 32-bit length cutting off or wrapping around large files.
    QFETCH(quint64, length);
    QFETCH(quint64, fullChunks);
    QFETCH(int, lastChunkSize);
    const ChunkLayout layout = LayoutOfLength(length);
    QCOMPARE(static_cast<quint64>(layout.fullChunks), fullChunks);
    QCOMPARE(static_cast<int>(layout.lastChunkSize), lastChunkSize);
}

void ChunkReaderTest::fileLargerThan2GiBIsReadToTheEnd() {
    // Guards the reader itself on a length past 2^31: a sparse file costs no disk space, and the
    // kernel hands its holes back as zeros quickly.
    QTemporaryDir dir;
    const QString path = dir.filePath("sparse.bin");
    const qint64 length = Q_INT64_C(2147483648) + 30000 + 17;
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(length));
        QVERIFY(file.seek(length - 5));
        QVERIFY(file.write("tail!") == 5);
    }
    QElapsedTimer timer;
    timer.start();
    ChunkReader reader(Local(path));
    QVERIFY(reader.ok());
    std::string chunk;
    quint64 full = 0;
    quint64 total = 0;
    while (reader.nextIsFull()) {
        QVERIFY(reader.next(chunk));
        ++full;
        total += chunk.size();
    }
    QVERIFY(reader.next(chunk));
    total += chunk.size();
    QVERIFY(!reader.next(chunk));
    QVERIFY(reader.ok());
    QCOMPARE(full, quint64(length / 30000));
    QCOMPARE(total, quint64(length));
    QCOMPARE(chunk.size(), std::size_t(length % 30000));
    QCOMPARE(chunk.substr(chunk.size() - 5), std::string("tail!"));
    qInfo("read %lld bytes in %lld ms", length, timer.elapsed());
}

void ChunkReaderTest::growingFileIsReadToItsLengthAtOpen() {
    // Guards against a log that keeps growing keeping the reader going for ever.
    QTemporaryDir dir;
    const QString path = dir.filePath("growing.log");
    QVERIFY(WriteBytes(path, QByteArray(45000, 'g')));
    ChunkReader reader(Local(path));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        QVERIFY(file.write(QByteArray(70000, 'h')) == 70000);
    }
    std::string chunk;
    QVERIFY(reader.next(chunk));
    QCOMPARE(chunk, std::string(30000, 'g'));
    QVERIFY(reader.next(chunk));
    QCOMPARE(chunk, std::string(15000, 'g'));
    QVERIFY(!reader.next(chunk));
    QVERIFY(reader.ok());
}

void ChunkReaderTest::shrinkingFileIsReported() {
    // Guards against a file cut short while it is read passing for a shorter file.
    QTemporaryDir dir;
    const QString path = dir.filePath("shrinking.txt");
    QVERIFY(WriteBytes(path, QByteArray(100000, 's')));
    ChunkReader reader(Local(path));
    QVERIFY(QFile::resize(path, 50000));
    std::string chunk;
    while (reader.next(chunk)) {
    }
    QVERIFY(!reader.ok());
    QCOMPARE(QString::fromStdString(reader.error()),
             QStringLiteral("the file became shorter while it was read"));
}

void ChunkReaderTest::streamIsReadInWholeChunks_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<bool>("nonBlocking");
    QTest::addColumn<bool>("namedFifo");  // a FIFO opened by its path, its writer coming late
    QTest::addColumn<QList<int>>("sizes");

    QTest::newRow("empty") << 0 << 1 << false << false << QList<int>{};
    QTest::newRow("small pieces") << 70001 << 997 << false << false
                                  << QList<int>{30000, 30000, 10001};
    QTest::newRow("exact chunks") << 60000 << 30000 << false << false << QList<int>{30000, 30000};
    QTest::newRow("non-blocking reader")
        << 45000 << 4096 << true << false << QList<int>{30000, 15000};
    QTest::newRow("FIFO named as a path")
        << 70001 << 997 << false << true << QList<int>{30000, 30000, 10001};
    QTest::newRow("empty FIFO named as a path") << 0 << 1 << false << true << QList<int>{};
}

void ChunkReaderTest::streamIsReadInWholeChunks() {
    // Guards against pipe boundaries changing the chunks (a short read taken for a chunk).
    QFETCH(int, length);
    QFETCH(int, pieceSize);
    QFETCH(bool, nonBlocking);
    QFETCH(bool, namedFifo);
    QFETCH(QList<int>, sizes);
    int fds[2];
    QCOMPARE(::pipe(fds), 0);
    if (nonBlocking) {
        ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    }
    QTemporaryDir dir;
    const std::string fifo = Local(dir.filePath("fifo"));
    if (namedFifo) {
        // The FIFO's own write end stands in for the pipe's; the reader must wait for it
        // rather than take the FIFO for empty.
        QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
        ::close(fds[1]);
        fds[1] = -1;
    }
    const QByteArray content = PatternedBytes(length);
    std::thread writer([&] {
        if (namedFifo) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            // Non-blocking, so that a reader that never comes fails the test, not hangs it.
            for (int tries = 0; tries < 1000 && fds[1] < 0; ++tries) {
                fds[1] = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fds[1] < 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
            }
            if (fds[1] < 0) {
                return;
            }
            ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) & ~O_NONBLOCK);
        }
        for (qsizetype at = 0; at < content.size(); at += pieceSize) {
            const auto size =
                static_cast<std::size_t>(std::min<qsizetype>(pieceSize, content.size() - at));
            std::size_t done = 0;
            while (done < size) {
                const auto n = ::write(fds[1], content.constData() + at + done, size - done);
                if (n <= 0) {
                    break;
                }
                done += static_cast<std::size_t>(n);
            }
            std::this_thread::yield();
        }
        ::close(fds[1]);
    });
    ChunkReader reader = namedFifo ? ChunkReader(fifo, PathKinds::RegularFilesAndPipes)
                                   : ChunkReader::FromStream(fds[0], "(standard input)");
    QList<int> actual;
    QByteArray joined;
    std::string chunk;
    while (true) {
        const bool full = reader.nextIsFull();
        if (!reader.next(chunk)) {
            break;
        }
        QCOMPARE(full, chunk.size() == 30000);
        actual.append(static_cast<int>(chunk.size()));
        joined.append(chunk.data(), static_cast<qsizetype>(chunk.size()));
    }
    writer.join();
    ::close(fds[0]);
    QVERIFY(reader.ok());
    QCOMPARE(reader.name(), namedFifo ? fifo : std::string("(standard input)"));
    QCOMPARE(actual, sizes);
    QCOMPARE(joined, content);
}

void ChunkReaderTest::unreadablePaths_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing") << "missing"
                             << "No such file or directory";
    QTest::newRow("folder") << "folder"
                            << "is a folder, not a file";
    QTest::newRow("FIFO without a writer") << "fifo"
                                           << "not a regular file";
    QTest::newRow("device") << "device"
                            << "not a regular file";
    QTest::newRow("no permission") << "no permission"
                                   << "Permission denied";
}

void ChunkReaderTest::unreadablePaths() {
    // Guards against hanging on a FIFO or a device and against a failure passing for a file;
    // the command line's reader, which takes pipes, still refuses the rest.
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    if (kind == "no permission" && ::geteuid() == 0) {
        QSKIP("running as root: file permissions do not stop reading");
    }
    QTemporaryDir dir;
    const QString path = MakeUnreadablePath(dir.path(), kind);
    QVERIFY(!path.isEmpty());
    ChunkReader reader(Local(path));
    QVERIFY(!reader.ok());
    QCOMPARE(QString::fromStdString(reader.error()), reason);
    std::string chunk;
    QVERIFY(!reader.next(chunk));
    if (kind != "fifo") {
        ChunkReader takingPipes(Local(path), PathKinds::RegularFilesAndPipes);
        QCOMPARE(QString::fromStdString(takingPipes.error()), reason);
    }
    try {
        ReadFileChunks(Local(path));
        QFAIL("no error for an unreadable path");
    } catch (const FileReadError& error) {
        QCOMPARE(QString::fromStdString(error.path()), path);
        QCOMPARE(QString::fromStdString(error.reason()), reason);
    }
}

QTEST_GUILESS_MAIN(ChunkReaderTest)
#include "tst_chunk_reader.moc"
