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
enum class ResultFormat { List, CommaDelimited };

using Addresses = std::vector<std::string>;

// Called once per address while a comma-delimited line is built (the window yields there).
using AddressHook = std::function<void()>;

// The exact bytes of `addresses` in `format`.
std::string FormatResults(const Addresses& addresses, ResultFormat format,
                          const AddressHook& beforeAddress = {});

// Writes those bytes to an open device (standard output, for instance). False on a write
// error, with the reason in `error`.
bool WriteResults(QIODevice& device, const Addresses& addresses, ResultFormat format,
                  QString* error = nullptr);

// Replaces the file at `path` with those bytes, all or nothing: the bytes go to a temporary
// file beside it that takes the file's place only once complete, so on any failure an
// existing file keeps every byte it had. False on failure, with the reason in `error`.
bool SaveResults(const QString& path, const Addresses& addresses, ResultFormat format,
                 QString* error = nullptr, const AddressHook& beforeAddress = {});

}  // namespace orlenta
