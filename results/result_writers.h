#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta {

// The two ways of saving the results. Both write single-byte text with CR LF line ends:
//   List            each address followed by CR LF; no addresses: 0 bytes
//   CommaDelimited  the addresses joined by "," and one CR LF; no addresses: CR LF alone
// e.g. A, B, C give "A\r\nB\r\nC\r\n" and "A,B,C\r\n". There is no limit on the count.
enum class ResultFormat { List, CommaDelimited };

using Addresses = std::vector<std::string>;

// Called once per address while a comma-delimited line is built, before the address is added
// (the window yields to its event loop there). Return false to abandon the save.
using AddressHook = std::function<bool()>;

// The exact bytes of `addresses` in `format`.
std::string FormatResults(const Addresses& addresses, ResultFormat format);

// Builds those bytes one address at a time, for callers that never need the addresses as a
// list (orlenta-extract appends each one as the run finds it, without a string of its own).
// The same bytes as FormatResults for the same addresses in the same order.
class ResultAppender final {
public:
    explicit ResultAppender(ResultFormat format) : format_(format) {}

    // Room for this many more bytes of addresses, so that adding does not reallocate.
    void reserve(std::size_t addressBytes, std::size_t count);

    void add(std::string_view address);

    // The complete bytes; the appender is empty afterwards. Call once, after the last add.
    std::string finish();

private:
    ResultFormat format_;
    std::string bytes_;
    bool empty_ = true;
};

// Replaces the file at `path` (the name's bytes) with those bytes, all or nothing, as
// SaveResults does.
bool SaveFormatted(const QByteArray& path, const std::string& bytes, QString* error = nullptr);

// Writes those bytes to the file named by `path` (the name's bytes) through OutputFile: a
// regular file is replaced all or nothing (a temporary file beside it takes its place only
// once complete, so on any failure it keeps every byte it had and no temporary file is left
// behind); a device or FIFO is written through; a link's target gets the bytes. False on
// failure, with the reason in `error` ("Permission denied", "No space left on device", ...).
//
// `beforeAddress` runs while the comma-delimited line is built, and the file is opened only
// once the line is complete. Anything may happen to the results list meanwhile, so `addresses`
// must be a copy that nothing else changes: pass ResultsModel::snapshot(), not a reference
// into the list. If the hook returns false nothing is written, the result is false and `error`
// says the save was abandoned.
bool SaveResults(const QByteArray& path, const Addresses& addresses, ResultFormat format,
                 QString* error = nullptr, const AddressHook& beforeAddress = {});
// The same for a name given as text, encoded as the system encodes file names.
bool SaveResults(const QString& path, const Addresses& addresses, ResultFormat format,
                 QString* error = nullptr, const AddressHook& beforeAddress = {});

}  // namespace orlenta
