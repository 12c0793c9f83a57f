#pragma once

#include <archive.h>
#include <archive_entry.h>

#include <string>

namespace orlenta {

// libarchive, loaded the first time --unpack needs it instead of at every start of the
// program: loading it with what it pulls in (libxml2, nettle, the compressors) costs every run
// about 1.5 ms, which a merge, --help or a plain run has no use for. Its functions are called
// through this table, by their own names:
//
//   std::string error;
//   if (!LoadArchiveLibrary(error)) { report(error); }  // "libarchive.so.13: cannot open ..."
//   archive* a = Archive().archive_read_new();
//
// The functions engine/archive_source.cpp calls; a new call there needs its name here (the
// build fails otherwise: the program is not linked with libarchive).
// clang-format off
#define ORLENTA_ARCHIVE_FUNCTIONS(X) \
    X(archive_entry_filetype) \
    X(archive_entry_hardlink) \
    X(archive_entry_is_data_encrypted) \
    X(archive_entry_pathname) \
    X(archive_error_string) \
    X(archive_filter_count) \
    X(archive_format) \
    X(archive_read_data) \
    X(archive_read_free) \
    X(archive_read_new) \
    X(archive_read_next_header) \
    X(archive_read_open1) \
    X(archive_read_open_memory) \
    X(archive_read_set_callback_data) \
    X(archive_read_set_read_callback) \
    X(archive_read_set_seek_callback) \
    X(archive_read_set_skip_callback) \
    X(archive_read_support_filter_bzip2) \
    X(archive_read_support_filter_compress) \
    X(archive_read_support_filter_gzip) \
    X(archive_read_support_filter_lz4) \
    X(archive_read_support_filter_lzip) \
    X(archive_read_support_filter_lzma) \
    X(archive_read_support_filter_xz) \
    X(archive_read_support_filter_zstd) \
    X(archive_read_support_format_7zip) \
    X(archive_read_support_format_ar) \
    X(archive_read_support_format_cpio) \
    X(archive_read_support_format_empty) \
    X(archive_read_support_format_rar) \
    X(archive_read_support_format_rar5) \
    X(archive_read_support_format_raw) \
    X(archive_read_support_format_tar) \
    X(archive_read_support_format_zip) \
    X(archive_set_error)
// clang-format on

struct ArchiveLibrary {
#define ORLENTA_ARCHIVE_POINTER(name) decltype(&::name) name = nullptr;
    ORLENTA_ARCHIVE_FUNCTIONS(ORLENTA_ARCHIVE_POINTER)
#undef ORLENTA_ARCHIVE_POINTER
};

// Loads the library once (later calls answer at once, from any thread); false with the
// loader's reason in `error` when it is missing or lacks a function.
bool LoadArchiveLibrary(std::string& error);

// The loaded table. Loads it when no LoadArchiveLibrary() did; throws std::runtime_error with
// the reason when it cannot be loaded (the command line asks first, before any reading).
const ArchiveLibrary& Archive();

}  // namespace orlenta
