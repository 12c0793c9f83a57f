#include "cli/report_writer.h"

#include "cli/escaped_name.h"
#include "results/output_file.h"

#include <charconv>
#include <cstdint>
#include <cstdio>

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

void AppendNumber(std::string& out, std::uint64_t number) {
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, number);
    out.append(digits, end.ptr);
}

// `source`: the first source's name as written (escaped, and for JSON made UTF-8).
void AppendRow(std::string& out, const AddressReport::Row& row, const std::string& source,
               ReportFormat format) {
    if (format == ReportFormat::Csv) {
        AppendCsvField(out, row.address);
        out += ',';
        AppendNumber(out, row.occurrences);
        out += ',';
        AppendNumber(out, row.sources);
        out += ',';
        out += source;
        out += ',';
        AppendNumber(out, row.offset);
        out += "\r\n";
        return;
    }
    out += "{\"address\":";
    AppendJsonString(out, EscapedBytesNotUtf8(row.address));
    out += ",\"occurrences\":";
    AppendNumber(out, row.occurrences);
    out += ",\"sources\":";
    AppendNumber(out, row.sources);
    out += ",\"first_source\":";
    out += source;
    out += ",\"offset\":";
    AppendNumber(out, row.offset);
    out += "}\n";
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

bool WriteReport(const AddressReport& report, ReportFormat format, OutputFile& file) {
    std::string out;
    out.reserve(FlushBytes + 4096);
    if (format == ReportFormat::Csv) {
        out += "address,occurrences,sources,first_source,offset\r\n";
    }
    // Rows of one source follow one another: its name is written out once for them all.
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
        AppendRow(out, row, source, format);
        if (out.size() >= FlushBytes) {
            if (!file.write(out)) {
                return false;
            }
            out.clear();
        }
    }
    return file.write(out);
}

}  // namespace orlenta
