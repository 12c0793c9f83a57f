#include "cli/progress_line.h"

namespace orlenta {

namespace {

// CR, then "erase to the end of the line".
constexpr const char* ClearLine = "\r\033[K";

constexpr std::chrono::milliseconds RedrawEvery{200};
constexpr std::chrono::seconds ShowAfter{1};

}  // namespace

ProgressLine::ProgressLine(std::FILE* out, When when, std::size_t totalFiles)
    : out_(out), when_(when), totalFiles_(totalFiles), start_(Clock::now()) {}

void ProgressLine::fileStarted() {
    ++filesStarted_;
    maybeDraw();
}

void ProgressLine::bytesRead(std::size_t count) {
    bytes_ += count;
    maybeDraw();
}

void ProgressLine::message(const std::string& line) {
    if (onScreen_) {
        std::fputs(ClearLine, out_);
        onScreen_ = false;
    }
    std::fputs(line.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void ProgressLine::finish() {
    if (finished_ || when_ == When::Never || (when_ == When::AfterOneSecond && !shown_)) {
        return;
    }
    finished_ = true;
    draw();
    std::fputc('\n', out_);
    std::fflush(out_);
    onScreen_ = false;
}

void ProgressLine::maybeDraw() {
    if (when_ == When::Never || finished_) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (!shown_ && when_ == When::AfterOneSecond && now - start_ < ShowAfter) {
        return;
    }
    if (shown_ && onScreen_ && now - lastDraw_ < RedrawEvery) {
        return;
    }
    draw();
}

void ProgressLine::draw() {
    const Clock::time_point now = Clock::now();
    const std::string line = ClearLine + text(now);
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
    shown_ = true;
    onScreen_ = true;
    lastDraw_ = now;
}

std::string ProgressLine::text(Clock::time_point now) const {
    // While a file is being read it is not done yet; at the end all are.
    const std::size_t done =
        finished_ ? filesStarted_ : (filesStarted_ > 0 ? filesStarted_ - 1 : 0);
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(bytes_) / seconds : 0;
    return std::to_string(done) + " of " + std::to_string(totalFiles_) + " files, " +
           FormatBytes(static_cast<double>(bytes_)) + " read, " + std::to_string(addresses_) +
           (addresses_ == 1 ? " address, " : " addresses, ") + FormatBytes(rate) + "/s";
}

std::string ProgressLine::FormatBytes(double bytes) {
    static const char* const units[] = {"B", "kB", "MB", "GB", "TB", "PB"};
    std::size_t unit = 0;
    while (bytes >= 999.5 && unit + 1 < std::size(units)) {
        bytes /= 1000;
        ++unit;
    }
    char text[32];
    if (unit == 0) {
        std::snprintf(text, sizeof text, "%.0f B", bytes);
    } else {
        std::snprintf(text, sizeof text,
                      bytes < 9.95   ? "%.2f %s"
                      : bytes < 99.5 ? "%.1f %s"
                                     : "%.0f %s",
                      bytes, units[unit]);
    }
    return text;
}

}  // namespace orlenta
