#pragma once

// What the benchmarks share: the clock and its units, the median of a few rounds, processor
// time from getrusage, the large folder tree the two folder-scan benchmarks walk, and the
// `find DIR -type f` run they are measured against.

#include <QString>

#include <chrono>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;

// The middle value (the upper one of the two middles for an even count); `values` not empty.
double Median(std::vector<double> values);

// Processor time, user and system, in ms: `who` is RUSAGE_SELF or RUSAGE_CHILDREN.
double CpuMs(int who);

// The window benchmarks run offscreen unless QT_QPA_PLATFORM says otherwise; call before the
// QApplication is made.
void PreferOffscreen();

// The tree: 100 folders of 99 subfolders, 10 files in each folder below the top, every name of
// an expected kind (so a scan asks no question).
constexpr int TopFolders = 100;
constexpr int SubfoldersEach = 99;
constexpr int FilesEach = 10;
constexpr int TreeFolders = TopFolders * (SubfoldersEach + 1);
constexpr int TreeFiles = TreeFolders * FilesEach;

// Builds the tree under `root`, or reuses one built there before (a marker file beside the
// root says it was finished). False when a folder or file could not be made.
bool BuildTree(const QString& root);

struct Timing {
    double wallMs = 0;
    double cpuMs = 0;
};

// One `find root -type f > out`; exits the program when find fails.
Timing TimeFind(const QString& root, const QString& out);

}  // namespace bench
