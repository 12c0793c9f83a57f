#include "bench/bench_support.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace bench {

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double CpuMs(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto ms = [](const timeval& t) { return double(t.tv_sec) * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

void PreferOffscreen() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

namespace {

const char* const FileNames[FilesEach] = {"index.html",  "page1.htm", "page2.htm", "notes.txt",
                                          "mail.txt",    "list.txt",  "a.html",    "b.html",
                                          "old.txt.bak", "c.htm"};

bool MakeFiles(const QString& folder) {
    if (!QDir().mkpath(folder)) {
        return false;
    }
    for (const char* name : FileNames) {
        QFile file(folder + QLatin1Char('/') + QLatin1String(name));
        if (!file.open(QIODevice::WriteOnly)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool BuildTree(const QString& root) {
    const QString marker = root + QStringLiteral(".complete");  // beside the tree, not in it
    if (QFile::exists(marker)) {
        return true;
    }
    for (int top = 0; top < TopFolders; ++top) {
        const QString topFolder =
            root + QStringLiteral("/folder%1").arg(top, 3, 10, QLatin1Char('0'));
        if (!MakeFiles(topFolder)) {
            return false;
        }
        for (int sub = 0; sub < SubfoldersEach; ++sub) {
            if (!MakeFiles(topFolder +
                           QStringLiteral("/sub%1").arg(sub, 2, 10, QLatin1Char('0')))) {
                return false;
            }
        }
    }
    QFile complete(marker);
    return complete.open(QIODevice::WriteOnly);
}

Timing TimeFind(const QString& root, const QString& out) {
    const QByteArray command =
        "find '" + QFile::encodeName(root) + "' -type f > '" + QFile::encodeName(out) + "'";
    const double cpuBefore = CpuMs(RUSAGE_CHILDREN);
    const Clock::time_point start = Clock::now();
    if (std::system(command.constData()) != 0) {
        std::fprintf(stderr, "find failed\n");
        std::exit(1);
    }
    return {Millis(Clock::now() - start).count(), CpuMs(RUSAGE_CHILDREN) - cpuBefore};
}

}  // namespace bench
