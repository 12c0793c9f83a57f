// How long the two saves take inside the real window (offscreen) for 1,000,000 addresses, from
// the press to the end of the save, over an existing file (so the overwrite question is asked
// and answered Yes). The bar is 1 s each. For "Save As Comma Delimited", which yields before
// every address, the turns of the event loop it made and the longest stall between two turns
// are shown as well.
//
//   orlenta_window_save_bench [FOLDER]
//
// Writes into FOLDER, or into a temporary folder that is removed afterwards.

#include "bench/bench_support.h"
#include "bench/window_bench_platform.h"
#include "results/results_model.h"
#include "ui/platform/event_loop_yielder.h"
#include "ui/window/form1.h"
#include "ui/window/press_button.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using bench::Median;
using bench::Millis;

constexpr int Count = 1000000;
constexpr int Rounds = 5;
constexpr double LimitMs = 1000;

// Addresses of realistic, varied length (13 to 40 characters), as in the writer's benchmark.
void Fill(orlenta::ResultsModel& model) {
    const char* const Domains[] = {"example.com", "mail.example.org", "x.net",
                                   "department.university.example.edu"};
    orlenta::AddressList addresses;
    for (int i = 0; i < Count; ++i) {
        addresses.add("person." + std::to_string(i) + "@" + Domains[i % 4]);
    }
    model.append(std::move(addresses));
}

}  // namespace

int main(int argc, char* argv[]) {
    bench::PreferOffscreen();
    QApplication application(argc, argv);
    QTemporaryDir temporary;
    const QString folder =
        argc > 1 ? QDir(QString::fromLocal8Bit(argv[1])).absolutePath() : temporary.path();
    QDir().mkpath(folder);

    bench::WindowBenchPlatform platform;
    orlenta::Form1 window(platform);
    window.show();
    QApplication::processEvents();
    Fill(window.resultsModel());
    QApplication::processEvents();

    bool ok = true;
    std::printf("%d addresses in the window, %d rounds each (median)\n", Count, Rounds);
    for (orlenta::PressButton* button : {window.saveListButton(), window.saveCommaButton()}) {
        const bool list = button == window.saveListButton();
        const QString path =
            folder + (list ? QStringLiteral("/list.txt") : QStringLiteral("/comma.txt"));
        platform.savePath = QFile::encodeName(path);
        std::vector<double> times;
        std::uint64_t turns = 0;
        double stall = 0;
        for (int round = 0; round < Rounds; ++round) {
            window.yielder().resetMeasurement();
            QElapsedTimer timer;
            timer.start();
            button->click();
            times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
            turns = std::max(turns, window.yielder().processCount());
            stall = std::max(stall, Millis(window.yielder().longestStall()).count());
        }
        const double median = Median(times);
        const qint64 size = QFileInfo(path).size();
        ok = ok && median < LimitMs && size > 0;
        std::printf("%-16s %7.1f ms (best %7.1f ms), %lld bytes (limit %.0f ms) %s\n",
                    list ? "list" : "comma-delimited", median,
                    *std::min_element(times.begin(), times.end()), static_cast<long long>(size),
                    LimitMs, median < LimitMs ? "ok" : "OVER");
        if (!list) {
            std::printf("%16s up to %llu event-loop turns a save, longest stall %.1f ms\n", "",
                        static_cast<unsigned long long>(turns), stall);
        }
    }
    return ok && platform.notices == 0 ? 0 : 1;
}
