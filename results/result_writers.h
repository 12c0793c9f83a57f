#pragma once

#include "results/address_list.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace orlenta {

// The two ways of saving the results. Both write single-byte text with CR LF line ends:
//   List            each address followed by CR LF; no addresses: 0 bytes
//   CommaDelimited  the addresses joined by "," and one CR LF; no addresses: CR LF alone
// e.g. A, B, C give "A\r\nB\r\nC\r\n" and "A,B,C\r\n". There is no limit on the count.
// AddressWriter (address_writer.h) writes them.
enum class ResultFormat { List, CommaDelimited };

// Called once per address before a comma-delimited save opens its file (the window yields to
// its event loop there). Return false to abandon the save.
using AddressHook = std::function<bool()>;

// Writes `addresses` in `format` to the file named by `path` (the name's bytes) through
// OutputFile, which says when a regular file is replaced and when it is written in place; on
// any failure the old file keeps every byte it had and no temporary file is left behind. A
// device or FIFO is written through; a link's target gets the bytes. False on failure, with
// the reason in `error` ("Permission denied", "No space left on device", ...).
//
// A comma-delimited save first calls `beforeAddress` once per address, and opens the file only
// after the last call. Anything may happen to the results list meanwhile: the snapshot holds
// the addresses as they stood when it was taken (ResultsModel::snapshot()). If the hook returns
// false nothing is written, the result is false and `error` says the save was abandoned.
bool SaveResults(const QByteArray& path, const AddressSnapshot& addresses, ResultFormat format,
                 QString* error = nullptr, const AddressHook& beforeAddress = {});
// The same for a name given as text, encoded as the system encodes file names.
bool SaveResults(const QString& path, const AddressSnapshot& addresses, ResultFormat format,
                 QString* error = nullptr, const AddressHook& beforeAddress = {});

}  // namespace orlenta
