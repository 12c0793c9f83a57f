// How fast "Add All File(s) In Folder" walks a large tree, against `find DIR -type f`, and how
// long the window would go without a chance to repaint (the longest gap between two yields).
//
//   orlenta_folder_scan_bench [FOLDER]
//
// Builds 100,000 files in 10,000 folders (100 folders of 99 subfolders, 10 files in each
// folder below the top, every name of an expected kind) under FOLDER, or in a temporary
// folder that is removed afterwards. A tree already built under FOLDER is reused.

#include "bench/bench_support.h"
#include "sources/folder_scan.h"
#include "sources/source_list_model.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

using bench::Clock;
using bench::Millis;

// CPU time of this thread: unlike the wall clock it does not count the time the machine gave
// to other processes, so it shows the work done between two yields.
double ThreadCpuMillis() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

const char* PointName(int point) {
    static const char* const Names[] = {"FolderOpened", "NameEnumerated", "FolderMerged",
                                        "FolderFiles", "start/end"};
    return Names[point];
}

struct ScanRun {
    double millis = 0;
    double cpuMillis = 0;
    double longestGap = 0;     // wall clock
    double longestCpuGap = 0;  // this thread's CPU time
    int gapFrom = 4;           // the yield points around the longest CPU gap
    int gapTo = 4;
    long yields = 0;
    qsizetype appended = 0;
    long questions = 0;
};

constexpr int StartOrEnd = 4;

// One scan of `root`. The hook reads the wall clock only (cheap); with `measureCpuGaps` it also
// reads this thread's CPU time, a system call that slows the scan, so such runs are not timed.
ScanRun TimeScan(const QString& root, bool measureCpuGaps) {
    ScanRun run;
    orlenta::SourceListModel list;
    Clock::time_point last = Clock::now();
    const Clock::time_point start = last;
    double lastCpu = ThreadCpuMillis();
    const double startCpu = lastCpu;
    int lastPoint = StartOrEnd;
    auto noteGap = [&run, &last, &lastCpu, &lastPoint, measureCpuGaps](int point) {
        const Clock::time_point now = Clock::now();
        run.longestGap = std::max(run.longestGap, Millis(now - last).count());
        last = now;
        if (!measureCpuGaps) {
            return;
        }
        const double cpu = ThreadCpuMillis();
        if (cpu - lastCpu > run.longestCpuGap) {
            run.longestCpuGap = cpu - lastCpu;
            run.gapFrom = lastPoint;
            run.gapTo = point;
        }
        lastCpu = cpu;
        lastPoint = point;
    };

    orlenta::FolderScanHooks hooks;
    hooks.ask = [&run](const QString&) {
        ++run.questions;
        return orlenta::LoadAnswer::Yes;
    };
    hooks.append = [&list](const QList<QByteArray>& paths) { list.append(paths); };
    hooks.yield = [&run, &noteGap](orlenta::ScanYieldPoint point) {
        ++run.yields;
        noteGap(static_cast<int>(point));
        return true;
    };
    const orlenta::FolderScanResult result = orlenta::ScanFolder(QFile::encodeName(root), hooks);
    noteGap(StartOrEnd);  // the stretch from the last yield to the end counts as well
    run.millis = Millis(Clock::now() - start).count();
    run.cpuMillis = ThreadCpuMillis() - startCpu;
    run.appended = list.count();
    if (result.appended != run.appended || !result.unreadable.isEmpty()) {
        std::fprintf(stderr, "scan result does not match what was appended\n");
        std::exit(1);
    }
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir temporary;
    const QString root = argc > 1 ? QDir(QString::fromLocal8Bit(argv[1])).absolutePath()
                                  : temporary.path() + QStringLiteral("/tree");
    std::printf("building %d files in %d folders under %s ...\n", bench::TreeFiles,
                bench::TreeFolders, qPrintable(root));
    if (!bench::BuildTree(root)) {
        std::fprintf(stderr, "could not build the tree\n");
        return 1;
    }
    const QString findOut = temporary.path() + QStringLiteral("/find.out");

    constexpr int Rounds = 5;
    bench::TimeFind(root, findOut);  // warm the caches once for both
    TimeScan(root, false);
    std::vector<double> findTimes;
    std::vector<double> findCpu;
    std::vector<double> scanTimes;
    std::vector<double> scanCpu;
    ScanRun worst;
    for (int round = 0; round < Rounds; ++round) {
        const bench::Timing find = bench::TimeFind(root, findOut);
        findTimes.push_back(find.wallMs);
        findCpu.push_back(find.cpuMs);
        const ScanRun run = TimeScan(root, false);
        scanTimes.push_back(run.millis);
        scanCpu.push_back(run.cpuMillis);
        worst.longestGap = std::max(worst.longestGap, run.longestGap);
        worst.yields = run.yields;
        worst.appended = run.appended;
        worst.questions = run.questions;
    }
    const ScanRun gaps = TimeScan(root, true);
    worst.longestCpuGap = gaps.longestCpuGap;
    worst.gapFrom = gaps.gapFrom;
    worst.gapTo = gaps.gapTo;

    const double find = bench::Median(findTimes);
    const double scan = bench::Median(scanTimes);
    const double bestFind = *std::min_element(findTimes.begin(), findTimes.end());
    const double bestScan = *std::min_element(scanTimes.begin(), scanTimes.end());
    std::printf("                      median wall   best wall   median CPU  (%d rounds)\n",
                Rounds);
    std::printf("find -type f          %8.1f ms %9.1f ms %9.1f ms\n", find, bestFind,
                bench::Median(findCpu));
    std::printf("folder scan           %8.1f ms %9.1f ms %9.1f ms\n", scan, bestScan,
                bench::Median(scanCpu));
    std::printf("ratio scan / find     %8.2f %12.2f %12.2f     (limit 3)\n", scan / find,
                bestScan / bestFind, bench::Median(scanCpu) / bench::Median(findCpu));
    std::printf("files appended        %8lld, questions %ld, yields %ld\n",
                static_cast<long long>(worst.appended), worst.questions, worst.yields);
    std::printf(
        "longest gap between yields, wall clock  %6.2f ms (includes time the machine "
        "gave to other processes)\n",
        worst.longestGap);
    std::printf(
        "longest gap between yields, CPU time    %6.2f ms (between %s and %s; limit well "
        "under 50)\n",
        worst.longestCpuGap, PointName(worst.gapFrom), PointName(worst.gapTo));
    return scan / find < 3.0 ? 0 : 2;
}
