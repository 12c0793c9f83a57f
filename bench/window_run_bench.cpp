// How long "Delete Duplicate Emails" takes inside the real window (offscreen) over the typical
// corpus, and the longest time the window's event loop went unserved meanwhile, next to
// orlenta-extract -j 1 on the same files (the window's run is the one-thread run, with its
// yields). The bars: the window run takes at most 1.2 times as long as orlenta-extract -j 1,
// and the event loop never waits more than 50 ms between two turns.
//
//   orlenta_window_run_bench [FILE|FOLDER...]
//
// A folder is added with "Add All File(s) In Folder" and given to orlenta-extract as it is.
// Without arguments it runs over bench/corpus/typical.txt (bench/make-corpus.py), or, when that is
// not there, over a 256 MB file of the same kind made in a temporary folder. Each side runs
// several times and its best time counts; processor time is shown as well, since it suffers
// less from other programs on a busy machine.

#include "bench/bench_support.h"
#include "bench/window_bench_platform.h"
#include "results/results_model.h"
#include "sources/source_list_model.h"
#include "ui/platform/event_loop_yielder.h"
#include "ui/window/form1.h"
#include "ui/window/press_button.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <random>

namespace {

using bench::Clock;
using bench::CpuMs;
using bench::Millis;

constexpr int Rounds = 5;
constexpr double MaxRatio = 1.2;
constexpr double MaxStallMs = 50;

// Prose with an address now and then, much as in the typical corpus.
bool MakeCorpus(const QString& path, qint64 size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    std::mt19937 random(42);
    const char* const words[] = {"the",    "order",  "was",     "shipped", "to",     "our",
                                 "office", "please", "contact", "support", "about",  "invoice",
                                 "<p>",    "</p>",   "reply",   "news",    "letter", "account"};
    QByteArray block;
    qint64 written = 0;
    int address = 0;
    while (written < size) {
        block.clear();
        for (int i = 0; i < 300; ++i) {
            block += words[random() % std::size(words)];
            block += (random() % 12 == 0) ? "\r\n" : " ";
        }
        block += "mailto:person" + QByteArray::number(address++ % 200000) + "@host" +
                 QByteArray::number(random() % 500) + ".example.com\r\n";
        written += file.write(block);
    }
    return true;
}

struct Timing {
    double wallMs = 1e300;
    double cpuMs = 1e300;
    void keepBest(double wall, double cpu) {
        wallMs = std::min(wallMs, wall);
        cpuMs = std::min(cpuMs, cpu);
    }
};

struct WindowRun {
    double wallMs = 0;
    double cpuMs = 0;
    double stallMs = 0;
    double handlingMs = 0;
    double longestTurnMs = 0;
    unsigned long long turns = 0;
    int addresses = 0;
};

WindowRun RunInWindow(const QStringList& inputs) {
    bench::WindowBenchPlatform platform;
    orlenta::Form1 window(platform);
    window.show();
    QApplication::processEvents();
    // A folder comes in through "Add All File(s) In Folder", as a user adds one (not timed).
    for (const QString& input : inputs) {
        if (QFileInfo(input).isDir()) {
            platform.folder = QFile::encodeName(input);
            window.addFolderButton()->click();
        } else {
            window.sourceModel().append(input);
        }
    }

    WindowRun run;
    const double cpuBefore = CpuMs(RUSAGE_SELF);
    QElapsedTimer timer;
    timer.start();
    window.extractButton()->click();
    run.wallMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    run.cpuMs = CpuMs(RUSAGE_SELF) - cpuBefore;
    run.stallMs = Millis(window.yielder().longestStall()).count();
    run.turns = window.yielder().processCount();
    run.handlingMs = Millis(platform.handling).count();
    run.longestTurnMs = Millis(platform.longestTurn).count();
    run.addresses = window.resultsModel().count();
    return run;
}

// Wall and processor time of one orlenta-extract run, its output counted in `lines`.
bool RunExtract(const QString& program, const QStringList& files, Timing& timing, int* lines) {
    QProcess process;
    if (!lines) {
        process.setStandardOutputFile(QProcess::nullDevice());
    }
    const double cpuBefore = CpuMs(RUSAGE_CHILDREN);
    QElapsedTimer timer;
    timer.start();
    process.start(program, QStringList{QStringLiteral("-j"), QStringLiteral("1")} + files);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit) {
        return false;
    }
    timing.keepBest(static_cast<double>(timer.nsecsElapsed()) / 1e6,
                    CpuMs(RUSAGE_CHILDREN) - cpuBefore);
    if (lines) {
        *lines = static_cast<int>(process.readAllStandardOutput().count('\n'));
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    bench::PreferOffscreen();
    QApplication application(argc, argv);

    QStringList files = application.arguments().mid(1);
    QTemporaryDir scratch;
    if (files.isEmpty()) {
        const QString typical = QStringLiteral(ORLENTA_BENCH_CORPUS "/typical.txt");
        if (QFileInfo::exists(typical)) {
            files << typical;
        } else {
            const QString made = scratch.filePath(QStringLiteral("typical.txt"));
            std::printf("no %s; making a 256 MB corpus in %s\n", qPrintable(typical),
                        qPrintable(made));
            if (!MakeCorpus(made, qint64(256) << 20)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(made));
                return 1;
            }
            files << made;
        }
    }
    qint64 bytes = 0;
    for (const QString& file : files) {
        bytes += QFileInfo(file).isFile() ? QFileInfo(file).size() : 0;
    }
    std::printf("%lld inputs, %.1f MB in the files named\n", static_cast<long long>(files.size()),
                bytes / 1e6);

    const QString extract = QStringLiteral(ORLENTA_EXTRACT);
    const bool haveExtract = QFileInfo(extract).isExecutable();
    Timing extractTiming;
    int extractLines = -1;
    if (haveExtract && !RunExtract(extract, files, extractTiming, &extractLines)) {
        std::fprintf(stderr, "orlenta-extract failed\n");
        return 1;
    }

    Timing windowTiming;
    WindowRun last;
    double worstStall = 0;
    double longestTurn = 0;
    for (int round = 0; round < Rounds; ++round) {
        last = RunInWindow(files);
        windowTiming.keepBest(last.wallMs, last.cpuMs);
        worstStall = std::max(worstStall, last.stallMs);
        longestTurn = std::max(longestTurn, last.longestTurnMs);
        if (haveExtract && !RunExtract(extract, files, extractTiming, nullptr)) {
            std::fprintf(stderr, "orlenta-extract failed\n");
            return 1;
        }
    }

    std::printf(
        "window run: %.1f ms (processor %.1f ms), %d addresses; last run: %llu "
        "event-loop turns took %.1f ms\n",
        windowTiming.wallMs, windowTiming.cpuMs, last.addresses, last.turns, last.handlingMs);
    std::printf(
        "longest event-loop turn %.1f ms; longest stall between turns %.1f ms "
        "(bar %.0f ms) %s\n",
        longestTurn, worstStall, MaxStallMs, worstStall <= MaxStallMs ? "ok" : "OVER");
    bool ok = worstStall <= MaxStallMs;
    if (!haveExtract) {
        std::printf("orlenta-extract not built (%s): no comparison\n", qPrintable(extract));
        return ok ? 0 : 1;
    }

    const double wallRatio = windowTiming.wallMs / extractTiming.wallMs;
    const double cpuRatio = windowTiming.cpuMs / extractTiming.cpuMs;
    std::printf("orlenta-extract: %.1f ms (processor %.1f ms), %d addresses\n",
                extractTiming.wallMs, extractTiming.cpuMs, extractLines);
    std::printf("window / orlenta-extract: %.2fx (processor %.2fx) (bar %.1fx) %s\n", wallRatio,
                cpuRatio, MaxRatio, wallRatio <= MaxRatio ? "ok" : "OVER");
    if (extractLines != last.addresses) {
        std::printf("the address counts differ\n");
        ok = false;
    }
    return ok && wallRatio <= MaxRatio ? 0 : 1;
}
