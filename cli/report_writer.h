#pragma once

#include "cli/address_report.h"

#include <memory>
#include <string>
#include <string_view>

namespace orlenta {

class OutputFile;

// How orlenta-extract --report writes its rows, chosen by the file's name.
//   CSV (RFC 4180), the default: a header row, then one row per address, each line ended by
//     CR LF; a field holding a comma, a double quote, CR or LF is quoted, its quotes doubled.
//       address,occurrences,sources,first_source,offset
//       Ann@example.com,3,2,"mail, old.txt",120
//   JSON Lines, for a name ending in ".jsonl": one object per line, ended by LF, same keys.
//       {"address":"Ann@example.com","occurrences":3,"sources":2,"first_source":"mail,
//       old.txt","offset":120}
// The first source is its name as messages show it (cli/escaped_name.h): control bytes and the
// backslash escaped, every other byte kept. JSON must be UTF-8, so there each byte that is not
// part of well-formed UTF-8 is also written as a backslash and three octal digits ("caf\351",
// as a JSON string "caf\\351"), which cannot be mistaken for bytes of the name since its own
// backslashes are doubled.
enum class ReportFormat { Csv, JsonLines };

ReportFormat ReportFormatFor(const std::string& path);

// Each byte of `text` outside well-formed UTF-8 (a stray continuation byte, a cut sequence, an
// overlong form, a surrogate, past U+10FFFF) as "\ooo"; the rest kept.
std::string EscapedBytesNotUtf8(std::string_view text);

// Writes the report to `file` (opened, not committed); false with file.error() on failure.
bool WriteReport(const AddressReport& report, ReportFormat format, OutputFile& file);

// Writes rows one at a time, for a report that is not held whole (the merge's): the CSV
// header first, then each row as add() gets it (its firstSource is not looked at: the name
// comes with it), a megabyte at a time.
//   ReportRows rows(ReportFormat::Csv, file);
//   rows.add(row, "a.txt");
//   if (!rows.finish()) { report(file.error()); }
class ReportRows final {
public:
    ReportRows(ReportFormat format, OutputFile& file);
    ~ReportRows();
    ReportRows(const ReportRows&) = delete;
    ReportRows& operator=(const ReportRows&) = delete;

    bool add(const AddressReport::Row& row, const std::string& firstSourceName);
    bool finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace orlenta
