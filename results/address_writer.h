#pragma once

#include "results/output_file.h"
#include "results/result_writers.h"

#include <cstring>
#include <memory>
#include <string_view>

namespace orlenta {

// The one formatter of the two byte formats (result_writers.h), for the window's saves and for
// orlenta-extract alike: formats addresses as they come and hands them to an open output file
// in blocks of about 1 MB, so the whole never has to be held as one string.
//
//   AddressWriter writer(ResultFormat::CommaDelimited, file);   // file already open
//   writer.add("A@x.org"); writer.add("B@y.net");
//   if (!writer.finish()) { report(file.error()); }             // "A@x.org,B@y.net\r\n"
//
// A writer without a file holds what it formats, for one with a file to write later in one
// piece (the merge formats its first slice so while another thread reads the rest):
//
//   AddressWriter held(ResultFormat::List);  held.add("A@x.org");
//   writer.add(held);                                           // after what writer has
//
// Once a write has failed nothing more is written.
class AddressWriter final {
public:
    AddressWriter(ResultFormat format, OutputFile& output);
    explicit AddressWriter(ResultFormat format);

    // Called once per address of a whole run: the bytes go straight into the block.
    void add(std::string_view address) {
        if (capacity_ - used_ < address.size() + 2) {
            makeRoom(address.size() + 2);
        }
        char* at = block_.get() + used_;
        if (format_ == ResultFormat::CommaDelimited) {
            if (!empty_) {
                *at++ = ',';
            }
            std::memcpy(at, address.data(), address.size());
            at += address.size();
        } else {
            std::memcpy(at, address.data(), address.size());
            at += address.size();
            *at++ = '\r';
            *at++ = '\n';
        }
        used_ = static_cast<std::size_t>(at - block_.get());
        empty_ = false;
    }

    // Writes the addresses a writer without a file holds (of the same format) after those
    // added so far, and empties it (its memory too).
    void add(AddressWriter& held);

    ResultFormat format() const { return format_; }

    // Makes room for `bytes` of formatted addresses at once, untouched until written: a held
    // writer that knows its size never copies what it holds (pages first touched cost much
    // more than the bytes written into them).
    void reserve(std::size_t bytes);

    // Writes the rest (the comma line's CR LF) and commits the file. False when anything
    // failed, with the reason in the file's error().
    bool finish();
    // Writes the rest, but leaves the file to be committed with others
    // (OutputFile::CommitTogether).
    bool flush();

private:
    void makeRoom(std::size_t size);
    void write();

    ResultFormat format_;
    OutputFile* output_;  // null: held
    std::unique_ptr<char[]> block_;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    bool empty_ = true;
    bool failed_ = false;
};

}  // namespace orlenta
