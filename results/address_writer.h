#pragma once

#include "results/output_file.h"
#include "results/result_writers.h"

#include <string>
#include <string_view>

namespace orlenta {

// The one formatter of the two byte formats (result_writers.h), for the window's saves and for
// orlenta-extract alike: formats addresses as they come and hands them to an open output file
// in blocks of about 64 KB, so the whole never has to be held as one string.
//
//   AddressWriter writer(ResultFormat::CommaDelimited, file);   // file already open
//   writer.add("A@x.org"); writer.add("B@y.net");
//   if (!writer.finish()) { report(file.error()); }             // "A@x.org,B@y.net\r\n"
//
// Once a write has failed nothing more is written.
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
