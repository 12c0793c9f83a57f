#pragma once

#include "results/output_file.h"
#include "results/result_writers.h"

#include <string>
#include <string_view>

namespace orlenta {

// Formats addresses as they come (one per line, or joined by commas) and hands them to an
// open output file in blocks of about 64 KB: the same bytes as FormatResults, never held
// whole. Once a write has failed nothing more is written.
class AddressWriter final {
public:
    AddressWriter(ResultFormat format, OutputFile& output);

    void add(std::string_view address);

    // Writes the rest (the comma line's CR LF) and commits the file. False when anything
    // failed, with the reason in the file's error().
    bool finish();

private:
    void write();

    ResultFormat format_;
    OutputFile& output_;
    std::string block_;
    bool empty_ = true;
    bool failed_ = false;
};

}  // namespace orlenta
