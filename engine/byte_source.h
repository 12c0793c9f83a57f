#pragma once

#include <cstddef>
#include <string>

namespace orlenta {

// Bytes that are not a file's own but made from them as they are read: a compressed file
// decompressed, an archive's members one after another, a mail's parts decoded. A source with
// one stream of bytes has one member.
//
//   while (source.nextMember()) {
//       while ((n = source.read(buffer, size)) > 0) { ... }   // -1: error() says why
//   }
class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Moves to the next member (the first, on the first call). False when none is left; a
    // non-empty error() then says why the members ended early (a damaged archive), and is
    // reported once, under the source's own name.
    virtual bool nextMember() = 0;

    // The current member's name inside the source ("dump/users.csv" of "dump.zip"); empty for
    // a source that is one stream.
    virtual std::string memberName() const { return {}; }

    // Reads up to `size` bytes of the current member: the count, 0 at its end, -1 when it
    // cannot be read further (error() then says why, in a few words; the next member may
    // still be read).
    virtual long read(char* data, std::size_t size) = 0;

    virtual std::string error() const = 0;
};

}  // namespace orlenta
