#include "cli/report_writer.h"

#include "cli/escaped_name.h"
#include "results/output_file.h"

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace orlenta {

namespace {

// Threads that put rows together while this one writes them.
constexpr std::size_t PuttingThreads = 2;

// Rows put together at a time: a megabyte or two.
constexpr std::size_t BatchRows = 16384;

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

// Whether a byte of `field` makes it need quotes: ",", "\"", CR or LF. All four are below
// "-", which addresses rarely hold at all, so eight bytes at a time are first looked at for
// any byte below it (a test that may say yes wrongly, never no); a byte-by-byte look at every
// row's address cost more than the rest of the row.
bool NeedsQuotes(std::string_view field) {
    constexpr std::uint64_t Ones = 0x0101010101010101ull;
    constexpr std::uint64_t HighBits = 0x8080808080808080ull;
    constexpr unsigned char Below = '-';
    std::size_t at = 0;
    bool lowByte = false;
    for (; at + 8 <= field.size() && !lowByte; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, field.data() + at, sizeof word);
        lowByte = ((word - Ones * Below) & ~word & HighBits) != 0;
    }
    for (; at < field.size() && !lowByte; ++at) {
        lowByte = static_cast<unsigned char>(field[at]) < Below;
    }
    if (!lowByte) {
        return false;
    }
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
    if (number < 10) {  // most counts
        *at = static_cast<char>('0' + number);
        return at + 1;
    }
    return std::to_chars(at, at + 20, number).ptr;
}

char* Put(char* at, std::string_view bytes) {
    std::memcpy(at, bytes.data(), bytes.size());
    return at + bytes.size();
}

// The rows of one batch as they are put together: one row is made in place, with no string
// built for it. The room is neither cleared nor copied row by row: a batch's rows fit in the
// first allocation unless they are unusually long.
class RowBytes final {
public:
    // Room for `size` more bytes.
    char* room(std::size_t size) {
        if (used_ + size > capacity_) {
            grow(used_ + size);
        }
        return bytes_.get() + used_;
    }
    void made(const char* end) { used_ = static_cast<std::size_t>(end - bytes_.get()); }

    std::string_view bytes() const { return std::string_view(bytes_.get(), used_); }
    void clear() { used_ = 0; }

private:
    // Enough for a batch of rows of the usual length.
    static constexpr std::size_t FirstCapacity = BatchRows * 96;

    void grow(std::size_t needed) {
        const std::size_t capacity = std::max({needed, 2 * capacity_, FirstCapacity});
        std::unique_ptr<char[]> larger(new char[capacity]);
        if (used_ > 0) {
            std::memcpy(larger.get(), bytes_.get(), used_);
        }
        bytes_ = std::move(larger);
        capacity_ = capacity;
    }

    std::unique_ptr<char[]> bytes_;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
};

// `source`: the first source's name as written (escaped, quoted or made a JSON string).
void PutRow(RowBytes& out, const AddressReport::Row& row, const std::string& source,
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
        return;
    }
    std::string address;
    AppendJsonString(address, EscapedBytesNotUtf8(row.address));
    constexpr std::string_view Keys[] = {"{\"address\":",      ",\"occurrences\":", ",\"sources\":",
                                         ",\"first_source\":", ",\"offset\":",      "}\n"};
    char* at = out.room(address.size() + source.size() + Numbers + 80);
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

constexpr std::string_view CsvHeader = "address,occurrences,sources,first_source,offset\r\n";

// The first source's name as written: escaped, then quoted or made a JSON string.
void PutSourceName(std::string& source, const std::string& name, ReportFormat format) {
    const std::string escaped = EscapedName(name);
    source.clear();
    if (format == ReportFormat::Csv) {
        AppendCsvField(source, escaped);
    } else {
        AppendJsonString(source, EscapedBytesNotUtf8(escaped));
    }
}

// Puts rows `begin` to `end` together into `out`.
void PutRows(const AddressReport& report, ReportFormat format, std::size_t begin, std::size_t end,
             RowBytes& out) {
    // Rows of one source follow one another: its name is made once for them all.
    std::size_t sourceShown = SIZE_MAX;
    std::string source;
    constexpr std::size_t Ahead = 8;
    for (std::size_t i = begin; i < end; ++i) {
        if (i + Ahead < end) {
            report.prefetch(i + Ahead);
        }
        const AddressReport::Row row = report.row(i);
        if (row.firstSource != sourceShown) {
            PutSourceName(source, report.sourceName(row.firstSource), format);
            sourceShown = row.firstSource;
        }
        PutRow(out, row, source, format);
    }
}

// The batches of rows, put together by several threads at once and written in order by one:
// putting a row together costs more than writing it. A batch's bytes wait in one of a few
// slots for their turn; a thread takes the next batch only when its slot is free.
class Batches final {
public:
    Batches(const AddressReport& report, ReportFormat format)
        : report_(report), format_(format), count_((report.size() + BatchRows - 1) / BatchRows) {}

    std::size_t count() const { return count_; }

    // A putting thread: batches until there are none left or the writer stopped.
    void put() {
        try {
            for (;;) {
                std::size_t batch;
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    changed_.wait(lock, [this] {
                        return stopped_ || next_ == count_ || next_ < written_ + Slots;
                    });
                    if (stopped_ || next_ == count_) {
                        return;
                    }
                    batch = next_++;
                }
                putBatch(batch);
                {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    ready_[batch % Slots] = true;
                }
                changed_.notify_all();
            }
        } catch (...) {
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (!failure_) {
                    failure_ = std::current_exception();
                }
                stopped_ = true;
            }
            changed_.notify_all();
        }
    }

    // The writer: the bytes of `batch` once they are put together; null when a putting thread
    // failed.
    const RowBytes* wait(std::size_t batch) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this, batch] { return ready_[batch % Slots] || failure_; });
        return failure_ ? nullptr : &slots_[batch % Slots];
    }

    // The writer is done with the oldest batch: its slot is free.
    void written(std::size_t batch) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ready_[batch % Slots] = false;
            ++written_;
        }
        changed_.notify_all();
    }

    // The writer stops: so do the putting threads.
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

    // Without a thread to put them together: the writer puts each batch itself.
    const RowBytes* putHere(std::size_t batch) {
        putBatch(batch);
        return &slots_[batch % Slots];
    }

private:
    static constexpr std::size_t Slots = 6;

    void putBatch(std::size_t batch) {
        RowBytes& out = slots_[batch % Slots];
        out.clear();
        PutRows(report_, format_, batch * BatchRows,
                std::min(report_.size(), (batch + 1) * BatchRows), out);
    }

    const AddressReport& report_;
    const ReportFormat format_;
    const std::size_t count_;
    RowBytes slots_[Slots];  // batch b in slot b % Slots, touched by one thread at a time
    std::mutex mutex_;
    std::condition_variable changed_;
    bool ready_[Slots] = {};
    std::size_t next_ = 0;     // the next batch to be put together
    std::size_t written_ = 0;  // batches written
    bool stopped_ = false;
    std::exception_ptr failure_;
};

}  // namespace

bool WriteReport(const AddressReport& report, ReportFormat format, OutputFile& file) {
    if (format == ReportFormat::Csv && !file.write(CsvHeader)) {
        return false;
    }
    Batches batches(report, format);
    std::vector<std::thread> putters;
    // However this function is left (a throw included), the putting threads end first.
    struct Joined {
        Batches& batches;
        std::vector<std::thread>& threads;
        ~Joined() {
            batches.stop();
            for (std::thread& thread : threads) {
                thread.join();
            }
        }
    };
    for (std::size_t i = 0; i < PuttingThreads && batches.count() > 1; ++i) {
        try {
            putters.emplace_back([&batches] { batches.put(); });
        } catch (const std::exception&) {
            break;  // no thread to be had (std::system_error, std::bad_alloc): fewer then
        }
    }
    bool written = true;
    {
        const Joined joined{batches, putters};
        for (std::size_t batch = 0; batch < batches.count(); ++batch) {
            const RowBytes* rows = putters.empty() ? batches.putHere(batch) : batches.wait(batch);
            if (rows == nullptr) {
                break;  // a putting thread threw: thrown again below
            }
            if (!file.write(rows->bytes())) {
                written = false;
                break;
            }
            batches.written(batch);
        }
    }
    if (const std::exception_ptr failure = batches.failure()) {
        std::rethrow_exception(failure);
    }
    return written;
}

struct ReportRows::State {
    State(ReportFormat format, OutputFile& file) : format(format), file(file) {}
    ReportFormat format;
    OutputFile& file;
    RowBytes out;
    std::string name;    // the last first source's name
    std::string source;  // and as written
    bool named = false;

    // What is put together goes out a megabyte at a time.
    bool flush() {
        const bool written = file.write(out.bytes());
        out.clear();
        return written;
    }
};

ReportRows::ReportRows(ReportFormat format, OutputFile& file)
    : state_(std::make_unique<State>(format, file)) {
    if (format == ReportFormat::Csv) {
        state_->out.made(Put(state_->out.room(CsvHeader.size()), CsvHeader));
    }
}

ReportRows::~ReportRows() = default;

bool ReportRows::add(const AddressReport::Row& row, const std::string& firstSourceName) {
    State& state = *state_;
    // Rows of one first source mostly follow one another: its name is made once for them.
    if (!state.named || firstSourceName != state.name) {
        state.name = firstSourceName;
        PutSourceName(state.source, firstSourceName, state.format);
        state.named = true;
    }
    PutRow(state.out, row, state.source, state.format);
    return state.out.bytes().size() < (1 << 20) || state.flush();
}

bool ReportRows::finish() {
    return state_->flush();
}

}  // namespace orlenta
