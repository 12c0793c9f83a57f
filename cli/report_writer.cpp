#include "cli/report_writer.h"

#include "cli/escaped_name.h"
#include "results/output_file.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace orlenta {

namespace {

// Written out whenever this much has gathered: few system calls, little memory.
constexpr std::size_t FlushBytes = 1 << 20;

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

// The rows as they are put together, written out a megabyte at a time: one row is made in
// place, with no string built for it.
class RowBuffer final {
public:
    explicit RowBuffer(OutputFile& file) : file_(file), bytes_(FlushBytes) {}

    // Room for `size` more bytes; null when a write failed.
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
        const bool written = file_.write(bytes_.data(), used_);
        used_ = 0;
        return written;
    }

private:
    OutputFile& file_;
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

void PutHeader(RowBuffer& out, ReportFormat format) {
    if (format == ReportFormat::Csv) {
        constexpr std::string_view Header = "address,occurrences,sources,first_source,offset\r\n";
        out.made(Put(out.room(Header.size()), Header));
    }
}

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

}  // namespace

bool WriteReport(const AddressReport& report, ReportFormat format, OutputFile& file) {
    RowBuffer out(file);
    PutHeader(out, format);
    // Rows of one source follow one another: its name is made once for them all.
    std::size_t sourceShown = SIZE_MAX;
    std::string source;
    for (std::size_t i = 0; i < report.size(); ++i) {
        const AddressReport::Row row = report.row(i);
        if (row.firstSource != sourceShown) {
            PutSourceName(source, report.sourceName(row.firstSource), format);
            sourceShown = row.firstSource;
        }
        if (!PutRow(out, row, source, format)) {
            return false;
        }
    }
    return out.flush();
}

struct ReportRows::State {
    State(ReportFormat format, OutputFile& file) : format(format), out(file) {}
    ReportFormat format;
    RowBuffer out;
    std::string name;    // the last first source's name
    std::string source;  // and as written
    bool named = false;
};

ReportRows::ReportRows(ReportFormat format, OutputFile& file)
    : state_(std::make_unique<State>(format, file)) {
    PutHeader(state_->out, format);
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
    return PutRow(state.out, row, state.source, state.format);
}

bool ReportRows::finish() {
    return state_->out.flush();
}

}  // namespace orlenta
