// orlenta-extract --unpack over compressed files and archives made here with the usual tools:
// each finds what the unpacked files give; members are named in messages; damaged, encrypted,
// too deep and too expanding members are reported while the rest is read; -j 1 and -j 2 agree.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Outcome Run(const QString& folder, const QStringList& arguments, const QString& input = {}) {
    QProcess process;
    process.setWorkingDirectory(folder);
    if (!input.isEmpty()) {
        process.setStandardInputFile(folder + "/" + input);
    }
    process.start(QStringLiteral(ORLENTA_EXTRACT), arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// The files every archive of the table holds: an address across the first chunk border
// (found in no run), duplicates in other spellings, a second file in a subfolder.
QByteArray FirstText() {
    QByteArray text = "ann@example.com ";
    text += QByteArray(29990 - text.size(), 'x') + " cut@example.com ";
    text += QByteArray(40000, 'y') + " Bob@Example.org\r\nann@EXAMPLE.com\r\n";
    return text;
}

const QStringList Files{"plain/a.txt", "plain/sub/b.csv"};

}  // namespace

class UnpackTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void findsWhatThePlainFilesGive_data();
    void findsWhatThePlainFilesGive();

private:
    QTemporaryDir dir_;
};

void UnpackTest::initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY(QDir(dir_.path()).mkpath("plain/sub"));
    QFile a(dir_.path() + "/plain/a.txt");
    QFile b(dir_.path() + "/plain/sub/b.csv");
    QVERIFY(a.open(QIODevice::WriteOnly) && a.write(FirstText()) > 0);
    QVERIFY(b.open(QIODevice::WriteOnly) && b.write("carl@example.net,bob@example.org\r\n") > 0);
}

void UnpackTest::findsWhatThePlainFilesGive_data() {
    // `make`: a shell script run in the test's folder; it makes "in" (or what the arguments
    // name). `plain`: the arguments whose output without --unpack is expected; "-" when
    // `expected` is given instead. `messages`: what standard error must hold.
    QTest::addColumn<QString>("make");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("standardInput");
    QTest::addColumn<QStringList>("plain");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("messages");

    const QString files = Files.join(' ');
    const QStringList in{"--unpack", "in"};
    // Each format read member by member, in the archive's order, recognised by content.
    const struct {
        const char* name;
        QString make;
    } formats[] = {
        {"tar.gz", "bsdtar czf in " + files},
        {"tar.xz", "bsdtar cJf in " + files},
        {"tar.zst", "bsdtar --zstd -cf in " + files},
        {"tar.bz2", "bsdtar cjf in " + files},
        {"tar.lz4", "bsdtar --lz4 -cf in " + files},
        {"zip", "zip -q in.zip " + files + " && mv in.zip in"},
        {"7z", "bsdtar --format 7zip -cf in " + files},
        {"cpio", "printf '%s\\n' " + files + " | bsdtar --format cpio -cf in -T -"},
        {"ar", "ar rc in " + files},
        {"zip in tar.gz in zip",
         "zip -q i.zip " + files +
             " && bsdtar czf t.tgz i.zip && zip -q in.zip t.tgz && mv in.zip in"},
    };
    for (const auto& format : formats) {
        QTest::addRow("%s", format.name)
            << format.make << in << QString() << Files << QByteArray() << 0 << QStringList();
    }
    for (const char* tool : {"gzip", "xz", "zstd -q", "bzip2", "lz4 -q"}) {
        QTest::addRow("a lone file, %s", tool)
            << QString("%1 -c plain/a.txt > in").arg(tool) << in << QString()
            << QStringList{"plain/a.txt"} << QByteArray() << 0 << QStringList();
    }
    // Plain files come through as they are.
    QTest::newRow("plain files") << "true" << (QStringList{"--unpack"} + Files) << QString()
                                 << Files << QByteArray() << 0 << QStringList();
    QTest::newRow("standard input, a tar.gz")
        << "bsdtar czf in " + files << QStringList{"--unpack", "-"} << "in" << Files << QByteArray()
        << 0 << QStringList();
    // Raw refuses nothing at all: "Unrecognized archive format".
    QTest::newRow("empty standard input and empty member")
        << "printf '' > e && zip -q in.zip e plain/a.txt && mv in.zip in && : > empty"
        << QStringList{"--unpack", "-", "in"} << "empty" << QStringList{"plain/a.txt"}
        << QByteArray() << 0 << QStringList();
    // libarchive seeks in a 7z archive: one from a pipe or in a zip was not readable.
    QTest::newRow("standard input, a 7z")
        << "bsdtar --format 7zip -cf in " + files << QStringList{"--unpack", "-"} << "in" << Files
        << QByteArray() << 0 << QStringList();
    QTest::newRow("7z in a zip") << "bsdtar --format 7zip -cf i.7z " + files +
                                        " && zip -q in.zip i.7z && mv in.zip in"
                                 << in << QString() << Files << QByteArray() << 0 << QStringList();
    QTest::newRow("standard input, a zip")
        << "zip -q in.zip " + files + " && mv in.zip in" << QStringList{"--unpack", "-"} << "in"
        << Files << QByteArray() << 0 << QStringList();
    // libarchive takes a leading block of zeros for an empty tar archive: nothing was read.
    const QString zeros = "{ head -c 2048 /dev/zero; cat plain/a.txt; } > z && gzip -c z > in";
    QTest::newRow("bytes that start with zeros")
        << zeros << in << QString() << QStringList{"z"} << QByteArray() << 0 << QStringList();
    QTest::newRow("the same through standard input")
        << zeros << QStringList{"--unpack", "-"} << "in" << QStringList{"z"} << QByteArray() << 0
        << QStringList();
    // A folder gives its packed files whatever their names; hidden and "~" names stay out.
    QTest::newRow("folder walk picks packed files by content")
        << "mkdir w && gzip -c plain/a.txt > w/data.bin && gzip -c plain/sub/b.csv > w/.h.bin "
           "&& gzip -c plain/sub/b.csv > w/~t.bin && cp plain/sub/b.csv w/other.bin"
        << QStringList{"--unpack", "w"} << QString() << QStringList{"plain/a.txt"} << QByteArray()
        << 0 << QStringList();
    // With --mail too, a member that is a mail is decoded like a mail file.
    QTest::newRow("with --mail, a mail in a tar.gz is decoded")
        << "printf 'From: zed@example.net\\nContent-Transfer-Encoding: quoted-printable\\n\\n"
           "to =3Dqp@exa=\\nmple.org\\n' > m.eml && bsdtar czf in m.eml"
        << QStringList{"--unpack", "--mail", "in"} << QString() << QStringList{"-"}
        << QByteArray("zed@example.net\r\nqp@example.org\r\n") << 0 << QStringList();

    // Failures: named ARCHIVE:MEMBER, the rest still read, exit status 1.
    QTest::newRow("damaged member")
        << "cp plain/a.txt big.txt && zip -q in.zip big.txt plain/sub/b.csv && mv in.zip in && "
           "printf 'garbage-garbage-garbage' | dd of=in bs=1 seek=80 conv=notrunc 2>/dev/null"
        << in << QString() << QStringList{"-"}
        << QByteArray("carl@example.net\r\nbob@example.org\r\n") << 1
        << QStringList{"orlenta-extract: in:big.txt: "};
    // Taken for plain bytes, it was read undecompressed, silently.
    QTest::newRow("damaged gzip file")
        << "{ printf '\\037\\213\\010\\000\\000\\000\\000\\000\\000\\003'; cat plain/a.txt; } > in"
        << in << QString() << QStringList{"-"} << QByteArray() << 1
        << QStringList{"orlenta-extract: in: gzip decompression failed"};
    QTest::newRow("encrypted member")
        << "zip -q -P secret in.zip plain/a.txt && zip -q in.zip plain/sub/b.csv && mv in.zip in"
        << in << QString() << QStringList{"-"}
        << QByteArray("carl@example.net\r\nbob@example.org\r\n") << 1
        << QStringList{"orlenta-extract: in:plain/a.txt: encrypted, not read"};
    QTest::newRow("nested too deep")
        << "cp plain/a.txt in && for i in 1 2 3 4 5 6 7 8 9 10 11; do gzip -f in && "
           "mv in.gz in; done"
        << in << QString() << QStringList{"-"} << QByteArray() << 1
        << QStringList{"orlenta-extract: in: packed more than 10 levels deep, not unpacked"};
    QTest::newRow("member nested too deep")
        << "cp plain/a.txt z && for i in 1 2 3 4 5 6 7 8 9 10; do gzip -f z && mv z.gz z; done "
           "&& zip -q in.zip z plain/sub/b.csv && mv in.zip in"
        << in << QString() << QStringList{"-"}
        << QByteArray("carl@example.net\r\nbob@example.org\r\n") << 1
        << QStringList{"orlenta-extract: in:z: packed more than 10 levels deep"};
    QTest::newRow("unpacks past the ratio")
        << "{ cat plain/sub/b.csv; head -c 300M /dev/zero; } | zstd -q > in" << in << QString()
        << QStringList{"-"} << QByteArray("carl@example.net\r\nbob@example.org\r\n") << 1
        << QStringList{
               "orlenta-extract: in: not read further: the file unpacks to more than "
               "10000 times its size"};
}

void UnpackTest::findsWhatThePlainFilesGive() {
    QFETCH(QString, make);
    QFETCH(QStringList, arguments);
    QFETCH(QString, standardInput);
    QFETCH(QStringList, plain);
    QFETCH(QByteArray, expected);
    QFETCH(int, exitCode);
    QFETCH(QStringList, messages);

    QProcess::execute("sh", {"-c", "cd '" + dir_.path() + "' && rm -rf in w && " + make});
    if (plain != QStringList{"-"}) {
        const Outcome unpacked = Run(dir_.path(), plain);
        QCOMPARE(unpacked.exitCode, 0);
        expected = unpacked.out;
        QVERIFY(!expected.isEmpty());
    }
    for (const char* threads : {"-j1", "-j2"}) {
        const Outcome got = Run(dir_.path(), QStringList{threads} + arguments, standardInput);
        QCOMPARE(got.out, expected);
        QCOMPARE(got.exitCode, exitCode);
        for (const QString& message : messages) {
            QVERIFY2(got.err.contains(message.toUtf8()), got.err.constData());
        }
        if (messages.isEmpty()) {
            QCOMPARE(got.err, QByteArray());
        }
    }
}

QTEST_GUILESS_MAIN(UnpackTest)

#include "tst_unpack.moc"
