// How long the two saves take for 1,000,000 addresses (the limit is 1 s each), counting the
// copy of the results list that a save works on.
//
//   orlenta_save_bench [FOLDER]
//
// Writes into FOLDER, or into a temporary folder that is removed afterwards.

#include "bench/bench_support.h"
#include "results/result_writers.h"
#include "results/results_model.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using bench::Clock;
using bench::Median;
using bench::Millis;

constexpr int Count = 1000000;
constexpr int Rounds = 5;

// Addresses of realistic, varied length (13 to 40 characters).
void Fill(orlenta::ResultsModel& model) {
    const char* const Domains[] = {"example.com", "mail.example.org", "x.net",
                                   "department.university.example.edu"};
    for (int i = 0; i < Count; ++i) {
        model.append("person." + std::to_string(i) + "@" + Domains[i % 4]);
    }
}

struct Timing {
    double snapshot = 0;
    double save = 0;
};

Timing TimeSave(const orlenta::ResultsModel& model, const QString& path,
                orlenta::ResultFormat format) {
    long hookCalls = 0;
    const Clock::time_point start = Clock::now();
    const orlenta::AddressSnapshot copy = model.snapshot();
    const Clock::time_point copied = Clock::now();
    QString error;
    const bool saved = orlenta::SaveResults(path, copy, format, &error, [&hookCalls] {
        ++hookCalls;
        return true;
    });
    const Clock::time_point done = Clock::now();
    if (!saved) {
        std::fprintf(stderr, "save failed: %s\n", qPrintable(error));
        std::exit(1);
    }
    return {Millis(copied - start).count(), Millis(done - copied).count()};
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir temporary;
    const QString folder =
        argc > 1 ? QDir(QString::fromLocal8Bit(argv[1])).absolutePath() : temporary.path();
    QDir().mkpath(folder);

    orlenta::ResultsModel model;
    Fill(model);

    bool withinLimit = true;
    std::printf("%d addresses, %d rounds each (median)\n", Count, Rounds);
    for (const auto format : {orlenta::ResultFormat::List, orlenta::ResultFormat::CommaDelimited}) {
        const bool list = format == orlenta::ResultFormat::List;
        const QString path =
            folder + (list ? QStringLiteral("/list.txt") : QStringLiteral("/comma.txt"));
        std::vector<double> snapshots;
        std::vector<double> saves;
        std::vector<double> totals;
        for (int round = 0; round < Rounds; ++round) {
            const Timing timing = TimeSave(model, path, format);
            snapshots.push_back(timing.snapshot);
            saves.push_back(timing.save);
            totals.push_back(timing.snapshot + timing.save);
        }
        const double total = Median(totals);
        withinLimit = withinLimit && total < 1000;
        std::printf("%-16s copy %7.1f ms + save %7.1f ms = %7.1f ms, %lld bytes (limit 1000 ms)\n",
                    list ? "list" : "comma-delimited", Median(snapshots), Median(saves), total,
                    static_cast<long long>(QFileInfo(path).size()));
    }
    return withinLimit ? 0 : 2;
}
