#pragma once

#include "engine/byte_source.h"
#include "engine/chunk_reader.h"
#include "engine/mail_transfer_decoding.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orlenta {

// Reads each member of another source as a mail client shows it, when the member is a mail
// (RFC 5322 header fields at its start) or an mbox spool (a "From " line at its start);
// any other member passes through byte for byte. In a mail, header values have their encoded
// words decoded, the text parts (text/*, message/*) are decoded from quoted-printable or
// base64 as their Content-Transfer-Encoding says, other parts (attachments) stay as they are,
// multipart bodies are walked and a message/rfc822 part is read as the mail it holds. The
// boundary lines and the mbox "From " lines are no part of any message and are left out.
// The decoded text is laid out for the chunks it will be cut into (ChunkSize bytes from the
// member's start): where a token would cross a chunk border, LFs after the blank before it
// move it into the next chunk, so an address is never cut in two (a token without a blank in
// the 4 KB before the border excepted). Streamed a line at a time: memory stays bounded
// whatever the size of the spool.
//
//   MailDecodingSource mail(std::move(file));   // "write to =3Dann@example.org" is read
//   while (mail.nextMember()) { ... mail.read(buffer, size) ... }   // as "write to =ann@..."
class MailDecodingSource final : public ByteSource {
public:
    explicit MailDecodingSource(std::unique_ptr<ByteSource> inner);

    bool nextMember() override;
    std::string memberName() const override { return inner_->memberName(); }
    long read(char* data, std::size_t size) override;
    std::string error() const override { return error_; }

    // What the current member was taken for, once read() has been called on it.
    enum class Kind { Undecided, Other, Mail, Mbox };
    Kind kind() const { return kind_; }

private:
    // How the lines of the current body are given.
    enum class Body { Raw, QuotedPrintable, Base64 };
    struct Boundary {
        std::string text;  // without the leading "--"
        bool digest;       // multipart/digest: a part's default type is message/rfc822
    };

    bool fillInput();
    void decide();
    void decodeSome(std::size_t wanted);
    void takeLine(std::string_view content, std::string_view ending, bool complete);
    void headerLine(std::string_view content, std::string_view ending, bool complete);
    void endField();
    void startBody();
    void bodyLine(std::string_view content, std::string_view ending);
    // How many bytes from inPos_ are whole body lines none of which can end the body (no
    // boundary line, no mbox separator): 0 when the next line may.
    std::size_t plainBodyLines() const;
    void bodyLines(std::string_view lines);
    bool boundaryLine(std::string_view content);
    void startEntity(bool digest);
    void finishBody();
    void put(std::string_view bytes);
    void keepTokensInChunks();
    std::size_t finalEnd() const;

    std::unique_ptr<ByteSource> inner_;
    Kind kind_ = Kind::Undecided;
    std::string error_;

    std::unique_ptr<char[]> in_;  // bytes read from inner_; [inPos_, inEnd_) not yet taken
    std::size_t inPos_ = 0;
    std::size_t inEnd_ = 0;
    bool inputEnded_ = false;
    bool inputFailed_ = false;
    bool finished_ = false;        // the member is read and its last body closed
    std::unique_ptr<char[]> out_;  // decoded bytes; [outPos_, outEnd_) not yet handed out
    std::size_t outPos_ = 0;
    std::size_t outEnd_ = 0;
    std::uint64_t outBase_ = 0;     // the member's offset of out_[0]
    std::uint64_t nextBorder_ = 0;  // the member's offset of the next chunk border

    bool atLineStart_ = true;  // the next piece of input begins a line
    bool inHeaders_ = true;
    std::string field_;  // the header field being unfolded
    std::string value_;  // its value decoded
    std::string type_;   // the entity's content type, lower case ("text/plain")
    std::string boundary_;
    std::string encoding_;  // its Content-Transfer-Encoding, lower case
    std::vector<Boundary> boundaries_;
    Body body_ = Body::Raw;
    Base64Decoder base64_;
};

// How much of a source's start tells whether it is a mail.
inline constexpr std::size_t MailPeekSize = 8 * 1024;

// True when `start`, the first MailPeekSize bytes of a source (or all of a shorter one), is
// the start of a mail or of an mbox spool, as MailDecodingSource decides: "From " at its very
// start, or header fields ("Name: value", folded lines) up to a blank line or the end of what
// was looked at, one of them a field most mails have (From, To, Date, Received, ...).
// A Thunderbird index (.msf) or a CSV file is none.
bool LooksLikeMail(std::string_view start);

// The same for a path: with --mail, a folder walk picks mail files so, whatever their names.
// Never waiting: a FIFO put in a file's place meanwhile is no mail.
bool LooksLikeMailFile(const std::string& path);

// `reader`'s bytes read through a MailDecodingSource, under the same name: a regular file or a
// stream not read yet (anything else, a failed open too, is given back as it is).
//   ChunkReader reader = ReadAsMail(ChunkReader("Inbox"));
ChunkReader ReadAsMail(ChunkReader reader);

}  // namespace orlenta
