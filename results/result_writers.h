#pragma once

#include <QString>

#include <functional>
#include <string>
#include <vector>

class QIODevice;

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

// Writes those bytes to an open device (standard output, for instance). False on a write
// error, with the reason in `error`.
bool WriteResults(QIODevice& device, const Addresses& addresses, ResultFormat format,
                  QString* error = nullptr);

// Replaces the file at `path` with those bytes, all or nothing: the bytes go to a temporary
// file beside it that takes the file's place only once complete, so on any failure an
// existing file keeps every byte it had and no temporary file is left behind. False on
// failure, with the reason in `error` ("Permission denied", "No space left on device", ...).
//
// `beforeAddress` runs while the comma-delimited line is built, and the file is opened only
// once the line is complete. Anything may happen to the results list meanwhile, so `addresses`
// must be a copy that nothing else changes: pass ResultsModel::snapshot(), not a reference
// into the list. If the hook returns false nothing is written, the result is false and `error`
// says the save was abandoned.
bool SaveResults(const QString& path, const Addresses& addresses, ResultFormat format,
                 QString* error = nullptr, const AddressHook& beforeAddress = {});

}  // namespace orlenta
