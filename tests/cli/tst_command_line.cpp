// Parsing orlenta-extract's arguments and turning them into the list of sources.
#include "cli/command_line.h"
#include "cli/input_list.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

using namespace orlenta;

namespace {

std::vector<std::string> Arguments(const QStringList& list) {
    std::vector<std::string> arguments;
    for (const QString& argument : list) {
        arguments.push_back(argument.toStdString());
    }
    return arguments;
}

// The paths an expansion gives, "-" for standard input, relative to `root`.
QStringList Expanded(const InputList& list, const QString& root) {
    QStringList paths;
    for (const Input& input : list.inputs) {
        const QString path = QFile::decodeName(QByteArray::fromStdString(input.path));
        paths.append(input.kind == Input::Kind::StandardInput
                         ? QStringLiteral("-")
                         : (path.startsWith(root) ? path.mid(root.size()) : path));
    }
    return paths;
}

bool Build(const QString& root, const QStringList& relative) {
    for (const QString& path : relative) {
        QFile file(root + QLatin1Char('/') + path);
        if (!QDir().mkpath(QFileInfo(file).path()) || !file.open(QIODevice::WriteOnly)) {
            return false;
        }
    }
    return true;
}

QStringList Inputs(const CommandLine& line) {
    QStringList inputs;
    for (const std::string& input : line.inputs) {
        inputs.append(QString::fromStdString(input));
    }
    return inputs;
}

}  // namespace

class CommandLineTest final : public QObject {
    Q_OBJECT

private slots:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void helpAndVersionWin_data();
    void helpAndVersionWin();
    void dashIsStandardInput();
    void allOption_data();
    void allOption();
    void foldersStandForTheirFiles_data();
    void foldersStandForTheirFiles();
    void foldersAmongOtherArguments();
    void usageAndHelpTexts();
    void memorySizes_data();
    void memorySizes();
};

void CommandLineTest::accepted_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("comma");
    QTest::addColumn<QString>("output");  // empty: standard output
    QTest::addColumn<QStringList>("inputs");

    QTest::newRow("one file") << QStringList{"a.txt"} << false << "" << QStringList{"a.txt"};
    QTest::newRow("order kept") << QStringList{"b", "a", "c", "a"} << false << ""
                                << QStringList{"b", "a", "c", "a"};
    QTest::newRow("comma") << QStringList{"--comma", "a"} << true << "" << QStringList{"a"};
    QTest::newRow("options after files")
        << QStringList{"a", "--comma", "-o", "out", "b"} << true << "out" << QStringList{"a", "b"};
    QTest::newRow("-oFILE") << QStringList{"-oout.txt", "a"} << false << "out.txt"
                            << QStringList{"a"};
    QTest::newRow("--output FILE")
        << QStringList{"--output", "o", "a"} << false << "o" << QStringList{"a"};
    QTest::newRow("--output=FILE")
        << QStringList{"--output=o", "a"} << false << "o" << QStringList{"a"};
    QTest::newRow("standard input") << QStringList{"-"} << false << "" << QStringList{"-"};
    QTest::newRow("double dash ends options") << QStringList{"--", "-o", "--comma", "-"} << false
                                              << "" << QStringList{"-o", "--comma", "-"};
    QTest::newRow("file named like the output")
        << QStringList{"-o", "-", "a"} << false << "-" << QStringList{"a"};
}

void CommandLineTest::accepted() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, comma);
    QFETCH(QString, output);
    QFETCH(QStringList, inputs);
    const ParsedCommandLine parsed = ParseCommandLine(Arguments(arguments));
    QVERIFY2(parsed.error.empty(), parsed.error.c_str());
    const CommandLine& line = parsed.commandLine;
    QCOMPARE(line.action, CommandLine::Action::Extract);
    QCOMPARE(line.format == ResultFormat::CommaDelimited, comma);
    QCOMPARE(line.outputPath.has_value(), !output.isEmpty());
    if (line.outputPath) {
        QCOMPARE(QString::fromStdString(*line.outputPath), output);
    }
    QCOMPARE(Inputs(line), inputs);
}

void CommandLineTest::refused_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");

    QTest::newRow("nothing") << QStringList{} << "no input files";
    QTest::newRow("options only") << QStringList{"--comma"} << "no input files";
    QTest::newRow("unknown option") << QStringList{"-x", "a"} << "unknown option '-x'";
    QTest::newRow("unknown long option") << QStringList{"a", "--list"} << "unknown option '--list'";
    QTest::newRow("-o without a name") << QStringList{"a", "-o"} << "-o needs a file name";
    QTest::newRow("empty name") << QStringList{"--output=", "a"} << "-o needs a file name";
    QTest::newRow("two outputs") << QStringList{"-o", "x", "-o", "y", "a"}
                                 << "-o given more than once";
    QTest::newRow("--report without a name: no input taken for it")
        << QStringList{"a", "--report"} << "--report needs a file name";
    QTest::newRow("two reports: the first would be lost")
        << QStringList{"--report=x", "--report", "y", "a"} << "--report given more than once";
}

void CommandLineTest::refused() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QCOMPARE(QString::fromStdString(ParseCommandLine(Arguments(arguments)).error), error);
}

void CommandLineTest::helpAndVersionWin_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");

    QTest::newRow("--help") << QStringList{"--help"} << int(CommandLine::Action::ShowHelp);
    QTest::newRow("-h after files") << QStringList{"a", "-h"} << int(CommandLine::Action::ShowHelp);
    QTest::newRow("--help after a mistake")
        << QStringList{"-x", "--help"} << int(CommandLine::Action::ShowHelp);
    QTest::newRow("--version") << QStringList{"--version"} << int(CommandLine::Action::ShowVersion);
    QTest::newRow("--help after double dash is a file")
        << QStringList{"--", "--help"} << int(CommandLine::Action::Extract);
}

void CommandLineTest::helpAndVersionWin() {
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    const ParsedCommandLine parsed = ParseCommandLine(Arguments(arguments));
    QVERIFY(parsed.error.empty());
    QCOMPARE(int(parsed.commandLine.action), action);
}

void CommandLineTest::dashIsStandardInput() {
    const std::vector<Input> inputs =
        ExpandInputs({"a.txt", "-", "./-", "no-such-folder", "-"}).inputs;
    const std::vector<Input> expected = {{Input::Kind::Path, "a.txt"},
                                         {Input::Kind::StandardInput, {}},
                                         {Input::Kind::Path, "./-"},
                                         {Input::Kind::Path, "no-such-folder"},
                                         {Input::Kind::StandardInput, {}}};
    QVERIFY(inputs == expected);
}

void CommandLineTest::allOption_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("all");
    QTest::addColumn<QStringList>("inputs");

    QTest::newRow("without") << QStringList{"folder"} << false << QStringList{"folder"};
    QTest::newRow("before") << QStringList{"--all", "folder"} << true << QStringList{"folder"};
    QTest::newRow("after") << QStringList{"folder", "--all"} << true << QStringList{"folder"};
    QTest::newRow("after double dash it is a name")
        << QStringList{"--", "--all"} << false << QStringList{"--all"};
}

void CommandLineTest::allOption() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, all);
    QFETCH(QStringList, inputs);
    const ParsedCommandLine parsed = ParseCommandLine(Arguments(arguments));
    QVERIFY2(parsed.error.empty(), parsed.error.c_str());
    QCOMPARE(parsed.commandLine.folderFiles == FolderFiles::All, all);
    QCOMPARE(Inputs(parsed.commandLine), inputs);
}

void CommandLineTest::foldersStandForTheirFiles_data() {
    QTest::addColumn<bool>("all");
    QTest::addColumn<QString>("argument");  // under the temporary folder
    QTest::addColumn<QStringList>("expected");

    const QStringList expectedKinds{"/mail/.h.txt",        "/mail/a.txt",         "/mail/b.html",
                                    "/mail/c.htm",         "/mail/notes.txt.bak", "/mail/sub/f.txt",
                                    "/mail/sub/deep/g.htm"};
    const QStringList every{"/mail/.h.txt",        "/mail/a.txt",     "/mail/b.html",
                            "/mail/c.htm",         "/mail/d.TXT",     "/mail/e.csv",
                            "/mail/notes.txt.bak", "/mail/sub/f.txt", "/mail/sub/deep/g.htm"};
    QTest::newRow("expected kinds") << false << "/mail" << expectedKinds;
    QTest::newRow("every file") << true << "/mail" << every;
    QTest::newRow("final separator") << false << "/mail/" << expectedKinds;
}

void CommandLineTest::foldersStandForTheirFiles() {
    QFETCH(bool, all);
    QFETCH(QString, argument);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    QVERIFY(Build(dir.path() + "/mail",
                  {"a.txt", "b.html", "c.htm", "d.TXT", "e.csv", "~tmp.txt", ".h.txt",
                   "notes.txt.bak", "sub/f.txt", "sub/deep/g.htm", "sub/~lock.htm", ".git/x.txt"}));

    const InputList list = ExpandInputs({QFile::encodeName(dir.path() + argument).toStdString()},
                                        all ? FolderFiles::All : FolderFiles::ExpectedKinds);

    QCOMPARE(Expanded(list, dir.path()), expected);
    QVERIFY(list.unreadable.empty());
}

void CommandLineTest::foldersAmongOtherArguments() {
    QTemporaryDir dir;
    QVERIFY(Build(dir.path() + "/one", {"a.txt"}));
    QVERIFY(Build(dir.path() + "/two", {"b.txt"}));
    QVERIFY(QDir().mkpath(dir.path() + "/empty"));
    const auto path = [&dir](const char* name) {
        return QFile::encodeName(dir.path() + "/" + name).toStdString();
    };

    const InputList list =
        ExpandInputs({path("two"), "-", path("missing.txt"), path("empty"), path("one")});

    QCOMPARE(Expanded(list, dir.path()),
             (QStringList{"/two/b.txt", "-", "/missing.txt", "/one/a.txt"}));
    QVERIFY(list.unreadable.empty());
}

void CommandLineTest::usageAndHelpTexts() {
    QCOMPARE(
        QString::fromStdString(UsageLine()),
        QStringLiteral("usage: orlenta-extract [--comma] [--all] [--lf] [--unpack] [--mail] "
                       "[--progress] [-j N] [--memory SIZE] [-o FILE] [--report FILE] PATH..."));
    const QString help = QString::fromStdString(HelpText());
    QVERIFY(help.startsWith(QString::fromStdString(UsageLine()) + "\n"));
    for (const char* option :
         {"--comma", "--all", "--lf", "--unpack", "--mail", "--progress", "-j N", "--memory SIZE",
          "-o FILE", "--report FILE", "--slice K/N", "--partial FILE", "--report-columns",
          "--merge", "--help", "--version"}) {
        QVERIFY2(help.contains(QLatin1String(option)), option);
    }
}

void CommandLineTest::memorySizes_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<qulonglong>("bytes");  // 0: refused

    QTest::newRow("unasked: the default") << QStringList{"a"} << qulonglong{0};
    QTest::newRow("plain bytes") << QStringList{"--memory", "2000000", "a"} << qulonglong{2000000};
    QTest::newRow("K") << QStringList{"--memory=4096K", "a"} << qulonglong{4096} * 1024;
    QTest::newRow("M") << QStringList{"--memory", "64M", "a"} << (qulonglong{64} << 20);
    QTest::newRow("G, lower case") << QStringList{"--memory", "2g", "a"} << (qulonglong{2} << 30);
    QTest::newRow("below 1M: nothing left for the set")
        << QStringList{"--memory", "100K", "a"} << qulonglong{0};
    QTest::newRow("unknown suffix") << QStringList{"--memory", "5T", "a"} << qulonglong{0};
    QTest::newRow("not a number") << QStringList{"--memory=lots", "a"} << qulonglong{0};
    QTest::newRow("overflow refused, not wrapped")
        << QStringList{"--memory", "99999999999999G", "a"} << qulonglong{0};
    QTest::newRow("size missing") << QStringList{"a", "--memory"} << qulonglong{0};
}

void CommandLineTest::memorySizes() {
    QFETCH(QStringList, arguments);
    QFETCH(qulonglong, bytes);
    const ParsedCommandLine parsed = ParseCommandLine(Arguments(arguments));
    const bool unasked = arguments.size() == 1;
    if (bytes == 0 && !unasked) {
        // A size past any machine's says so, rather than asking for 1M or more.
        QCOMPARE(QString::fromStdString(parsed.error),
                 arguments.contains("99999999999999G")
                     ? QStringLiteral("--memory 99999999999999G is more than it can take: "
                                      "1048576G at most")
                     : QStringLiteral("--memory needs a size of 1M or more, such as 512M or 2G"));
    } else {
        QVERIFY2(parsed.error.empty(), parsed.error.c_str());
        QCOMPARE(qulonglong{parsed.commandLine.memory}, bytes);
    }
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_command_line.moc"
