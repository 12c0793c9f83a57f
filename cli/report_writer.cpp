#include "cli/report_writer.h"

#include "cli/escaped_name.h"
#include "results/output_file.h"

#include <charconv>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace orlenta {

namespace {

// Written out whenever this much has gathered: few system calls, little memory.
constexpr std::size_t FlushBytes = 1 << 20;
// The disk is asked to start taking what was written whenever this much more has been.
constexpr std::size_t WritebackBytes = 16 << 20;

bool EndsWith(const std::string& text, std::string_view end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The length of the well-formed UTF-8 sequence at `at`, 0 when there is none.
std::size_t Utf8SequenceAt(std::string_view text, std::size_t at) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;  // the second byte's range (RFC 3629, table 3-7 of Unicode)
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

bool NeedsQuotes(std::string_view field) {
    for (const char c : field) {
        if (c == ',' || c == '"' || c == '\r' || c == '\n') {
            return true;
        }
    }
    return false;
}

void AppendCsvField(std::string& out, std::string_view field) {
    if (!NeedsQuotes(field)) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    out += '"';
}

// `text` as a JSON string; it must be UTF-8 already.
void AppendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    out += '"';
}

char* PutNumber(char* at, std::uint64_t number) {
    return std::to_chars(at, at + 20, number).ptr;
}

char* Put(char* at, std::string_view bytes) {
    std::memcpy(at, bytes.data(), bytes.size());
    return at + bytes.size();
}

// The rows as they are put together, a megabyte at a time: one row is made in place, with no
// string built for it. Each full megabyte goes to `full`, which writes it or hands it on to be
// written, and gives back an empty one.
class RowBuffer final {
public:
    // Takes a full block, gives back an empty one; false when the rows are to stop.
    using Full = std::function<bool(std::vector<char>& block, std::size_t used)>;

    explicit RowBuffer(Full full) : full_(std::move(full)), bytes_(FlushBytes) {}

    // Room for `size` more bytes; null when the rows are to stop.
    char* room(std::size_t size) {
        if (used_ + size > bytes_.size()) {
            if (!flush()) {
                return nullptr;
            }
            if (size > bytes_.size()) {
                bytes_.resize(size);
            }
        }
        return bytes_.data() + used_;
    }
    void made(const char* end) { used_ = static_cast<std::size_t>(end - bytes_.data()); }

    bool flush() {
        const std::size_t used = std::exchange(used_, 0);
        return full_(bytes_, used);
    }

private:
    Full full_;
    std::vector<char> bytes_;
    std::size_t used_ = 0;
};

// `source`: the first source's name as written (escaped, quoted or made a JSON string).
bool PutRow(RowBuffer& out, const AddressReport::Row& row, const std::string& source,
            ReportFormat format) {
    constexpr std::size_t Numbers = 3 * 20;
    if (format == ReportFormat::Csv) {
        std::string quoted;
        std::string_view address = row.address;
        if (NeedsQuotes(address)) {
            AppendCsvField(quoted, address);
            address = quoted;
        }
        char* at = out.room(address.size() + source.size() + Numbers + 6);
        if (at == nullptr) {
            return false;
        }
        at = Put(at, address);
        *at++ = ',';
        at = PutNumber(at, row.occurrences);
        *at++ = ',';
        at = PutNumber(at, row.sources);
        *at++ = ',';
        at = Put(at, source);
        *at++ = ',';
        at = PutNumber(at, row.offset);
        *at++ = '\r';
        *at++ = '\n';
        out.made(at);
        return true;
    }
    std::string address;
    AppendJsonString(address, EscapedBytesNotUtf8(row.address));
    constexpr std::string_view Keys[] = {"{\"address\":",      ",\"occurrences\":", ",\"sources\":",
                                         ",\"first_source\":", ",\"offset\":",      "}\n"};
    char* at = out.room(address.size() + source.size() + Numbers + 80);
    if (at == nullptr) {
        return false;
    }
    at = Put(at, Keys[0]);
    at = Put(at, address);
    at = Put(at, Keys[1]);
    at = PutNumber(at, row.occurrences);
    at = Put(at, Keys[2]);
    at = PutNumber(at, row.sources);
    at = Put(at, Keys[3]);
    at = Put(at, source);
    at = Put(at, Keys[4]);
    at = PutNumber(at, row.offset);
    at = Put(at, Keys[5]);
    out.made(at);
    return true;
}

}  // namespace

ReportFormat ReportFormatFor(const std::string& path) {
    return EndsWith(path, ".jsonl") ? ReportFormat::JsonLines : ReportFormat::Csv;
}

std::string EscapedBytesNotUtf8(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = Utf8SequenceAt(text, at);
        if (length > 0) {
            escaped.append(text, at, length);
            at += length;
            continue;
        }
        const auto byte = static_cast<unsigned char>(text[at++]);
        escaped += '\\';
        escaped += static_cast<char>('0' + (byte >> 6));
        escaped += static_cast<char>('0' + ((byte >> 3) & 7));
        escaped += static_cast<char>('0' + (byte & 7));
    }
    return escaped;
}

namespace {

// Puts every row together into `out`; false when it was told to stop.
bool PutRows(const AddressReport& report, ReportFormat format, RowBuffer& out) {
    if (format == ReportFormat::Csv) {
        constexpr std::string_view Header = "address,occurrences,sources,first_source,offset\r\n";
        out.made(Put(out.room(Header.size()), Header));
    }
    // Rows of one source follow one another: its name is made once for them all.
    std::size_t sourceShown = SIZE_MAX;
    std::string source;
    for (std::size_t i = 0; i < report.size(); ++i) {
        const AddressReport::Row row = report.row(i);
        if (row.firstSource != sourceShown) {
            const std::string escaped = EscapedName(report.sourceName(row.firstSource));
            source.clear();
            if (format == ReportFormat::Csv) {
                AppendCsvField(source, escaped);
            } else {
                AppendJsonString(source, EscapedBytesNotUtf8(escaped));
            }
            sourceShown = row.firstSource;
        }
        if (!PutRow(out, row, source, format)) {
            return false;
        }
    }
    return out.flush();
}

// Blocks of rows handed from the thread that puts them together to the one that writes them,
// a few at a time: each side has about as much to do.
class BlockQueue final {
public:
    static constexpr std::size_t MostWaiting = 4;

    // The putting side: waits for room; false once the writer has stopped.
    bool push(std::vector<char>& block, std::size_t used) {
        std::vector<char> spare;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return full_.size() < MostWaiting || stopped_; });
            if (stopped_) {
                return false;
            }
            full_.push_back({std::move(block), used});
            if (!empty_.empty()) {
                spare = std::move(empty_.back());
                empty_.pop_back();
            }
        }
        changed_.notify_all();
        block = std::move(spare);
        if (block.size() < FlushBytes) {
            block.resize(FlushBytes);
        }
        return true;
    }

    // The putting side is done; `failure` when it threw.
    void finish(std::exception_ptr failure) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
            failure_ = std::move(failure);
        }
        changed_.notify_all();
    }

    // The writing side: the next block, or false once there is none.
    bool pop(std::vector<char>& block, std::size_t& used) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !full_.empty() || finished_; });
        if (full_.empty()) {
            return false;
        }
        block = std::move(full_.front().first);
        used = full_.front().second;
        full_.pop_front();
        lock.unlock();
        changed_.notify_all();
        return true;
    }

    // The writing side gives an empty block back.
    void giveBack(std::vector<char> block) {
        const std::lock_guard<std::mutex> lock(mutex_);
        empty_.push_back(std::move(block));
    }

    // The writing side stops: the putting side does too.
    void stop() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopped_ = true;
        }
        changed_.notify_all();
    }

    std::exception_ptr failure() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return failure_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<std::vector<char>, std::size_t>> full_;
    std::vector<std::vector<char>> empty_;
    bool finished_ = false;
    bool stopped_ = false;
    std::exception_ptr failure_;
};

// Writes a block; past every few megabytes the disk starts taking them, so the commit's sync
// does not wait for them all at the end.
bool WriteBlock(OutputFile& file, const std::vector<char>& block, std::size_t used,
                std::size_t& sinceWriteback) {
    if (!file.write(block.data(), used)) {
        return false;
    }
    sinceWriteback += used;
    if (sinceWriteback >= WritebackBytes) {
        file.startWriteback();
        sinceWriteback = 0;
    }
    return true;
}

}  // namespace

bool WriteReport(const AddressReport& report, ReportFormat format, OutputFile& file) {
    std::size_t sinceWriteback = 0;
    BlockQueue queue;
    std::thread putter;
    try {
        putter = std::thread([&report, format, &queue] {
            std::exception_ptr failure;
            try {
                RowBuffer out([&queue](std::vector<char>& block, std::size_t used) {
                    return queue.push(block, used);
                });
                PutRows(report, format, out);
            } catch (...) {
                failure = std::current_exception();
            }
            queue.finish(std::move(failure));
        });
    } catch (const std::exception&) {
        // No thread to be had (std::system_error, std::bad_alloc): the rows are put together and
        // written here, one after the other.
        RowBuffer out([&file, &sinceWriteback](std::vector<char>& block, std::size_t used) {
            return WriteBlock(file, block, used, sinceWriteback);
        });
        return PutRows(report, format, out);
    }
    bool written = true;
    std::vector<char> block;
    std::size_t used = 0;
    while (queue.pop(block, used)) {
        if (!WriteBlock(file, block, used, sinceWriteback)) {
            written = false;
            queue.stop();
            break;
        }
        queue.giveBack(std::move(block));
    }
    putter.join();
    if (const std::exception_ptr failure = queue.failure()) {
        std::rethrow_exception(failure);
    }
    return written;
}

}  // namespace orlenta
