#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace orlenta {

// The one line on standard error that shows how a long run is going, rewritten in place:
//   "3 of 12 files, 1.4 GB read, 52311 addresses, 412 MB/s"
// Every drawing starts with CR and the terminal's "erase line" sequence, so a shorter line
// leaves nothing of a longer one behind. It is redrawn a few times a second at most. Messages
// go through message(), which clears the line first, so they are never mixed into it; finish()
// leaves the last state followed by a newline. Not for use from several threads at once.
class ProgressLine final {
public:
    enum class When {
        Never,
        AfterOneSecond,  // shown once the run has taken a second (a terminal, not asked)
        FromTheStart,    // --progress
    };

    ProgressLine(std::FILE* out, When when, std::size_t totalFiles);
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void fileStarted();
    void bytesRead(std::size_t count);
    void addressFound() { ++addresses_; }

    // Writes `line` and a newline on a line of its own.
    void message(const std::string& line);

    // The final state and a newline, when the line was shown or asked for.
    void finish();

    // "1.4 GB", "512 B", "23.0 kB": decimal units, three figures.
    static std::string FormatBytes(double bytes);

private:
    using Clock = std::chrono::steady_clock;

    void maybeDraw();
    void draw();
    std::string text(Clock::time_point now) const;

    std::FILE* out_;
    When when_;
    std::size_t totalFiles_;
    std::size_t filesStarted_ = 0;
    std::uint64_t bytes_ = 0;
    std::uint64_t addresses_ = 0;
    bool finished_ = false;
    bool shown_ = false;     // drawn at least once
    bool onScreen_ = false;  // the line is the last thing written
    Clock::time_point start_;
    Clock::time_point lastDraw_;
};

}  // namespace orlenta
