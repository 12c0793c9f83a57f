#include "engine/mail_decoding_source.h"

#include <fcntl.h>
#include <string.h>  // memrchr
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

namespace orlenta {

namespace {

// Input is taken a line at a time from a buffer of this size; a longer line is taken in
// pieces of this size (no mail line is that long, and memory stays bounded).
constexpr std::size_t InputCapacity = 256 * 1024;
// A header field longer than this, folded line after folded line, is given out in pieces.
constexpr std::size_t MaxFieldSize = 64 * 1024;
// At most this many bytes of plain body lines are decoded in one go.
constexpr std::size_t PlainLinesWindow = 16 * 1024;
// How far before a chunk border a blank is looked for, to start the token after it afresh.
constexpr std::size_t MaxPadding = 4096;
// Room for what one line can add to the output: decoding never makes text longer, and a
// header field is given out whole when it ends (up to MaxFieldSize plus the line that made it
// longer), with a few bytes of line end and the padding before each chunk border it crosses.
constexpr std::size_t MaxLineOutput = InputCapacity + MaxFieldSize + 64 +
                                      MaxPadding * ((InputCapacity + MaxFieldSize) / ChunkSize + 2);
constexpr std::size_t OutputCapacity = 2 * MaxLineOutput;

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view text) {
    const std::size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string_view::npos) {
        return {};
    }
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

bool SameIgnoringCase(std::string_view text, std::string_view lowerCase) {
    if (text.size() != lowerCase.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != lowerCase[i]) {
            return false;
        }
    }
    return true;
}

std::string Lowered(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lowered;
}

// The length of the field name that begins `line` (printable ASCII but ":", then ":" maybe
// after blanks), or 0 when the line is no header field.
std::size_t FieldNameLength(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && line[i] > ' ' && line[i] < 127 && line[i] != ':') {
        ++i;
    }
    std::size_t name = i;
    while (i < line.size() && IsBlank(line[i])) {
        ++i;
    }
    return name > 0 && i < line.size() && line[i] == ':' ? name : 0;
}

// True when `text` (the start of a member) opens with header fields, one of them a field every
// mail has or most mails have, up to their blank line or the end of what was looked at.
bool StartsWithHeaderFields(std::string_view text) {
    static const char* const known[] = {
        "from",         "to",          "cc",         "subject",         "date",
        "received",     "return-path", "message-id", "mime-version",    "delivered-to",
        "content-type", "reply-to",    "sender",     "x-mozilla-status"};
    bool sawKnown = false;
    bool first = true;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t newline = text.find('\n', pos);
        if (newline == std::string_view::npos) {
            break;  // a line cut by the end of the look: not judged
        }
        std::string_view line = text.substr(pos, newline - pos);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        pos = newline + 1;
        if (line.empty()) {
            return !first && sawKnown;
        }
        if (IsBlank(line[0]) && !first) {
            continue;
        }
        const std::size_t name = FieldNameLength(line);
        if (name == 0) {
            return false;
        }
        const std::string lowered = Lowered(line.substr(0, name));
        for (const char* field : known) {
            sawKnown = sawKnown || lowered == field;
        }
        first = false;
    }
    return !first && sawKnown && pos > 0;
}

// The boundary parameter of a Content-Type value, unquoted; empty when it has none.
std::string BoundaryOf(std::string_view value) {
    std::size_t pos = value.find(';');
    while (pos != std::string_view::npos) {
        const std::string_view rest = value.substr(pos + 1);
        const std::size_t equals = rest.find('=');
        if (equals == std::string_view::npos) {
            return {};
        }
        const std::string name = Lowered(Trimmed(rest.substr(0, equals)));
        std::string_view after = rest.substr(equals + 1);
        while (!after.empty() && IsBlank(after.front())) {
            after.remove_prefix(1);
        }
        std::string parameter;
        std::size_t used = 0;
        if (!after.empty() && after.front() == '"') {
            const std::size_t close = after.find('"', 1);
            parameter = std::string(after.substr(
                1, close == std::string_view::npos ? std::string_view::npos : close - 1));
            used = close == std::string_view::npos ? after.size() : close + 1;
        } else {
            const std::size_t end = after.find_first_of("; \t\r\n");
            parameter = std::string(after.substr(0, end));
            used = end == std::string_view::npos ? after.size() : end;
        }
        if (name == "boundary") {
            return parameter;
        }
        const std::size_t consumed = (value.size() - after.size()) + used;
        pos = value.find(';', consumed);
    }
    return {};
}

}  // namespace

MailDecodingSource::MailDecodingSource(std::unique_ptr<ByteSource> inner)
    : inner_(std::move(inner)) {}

bool MailDecodingSource::nextMember() {
    if (!inner_->nextMember()) {
        error_ = inner_->error();  // why the members ended early, if they did
        return false;
    }
    kind_ = Kind::Undecided;
    error_.clear();
    inPos_ = inEnd_ = 0;
    inputEnded_ = inputFailed_ = finished_ = false;
    outPos_ = outEnd_ = 0;
    outBase_ = 0;
    nextBorder_ = ChunkSize;
    atLineStart_ = true;
    boundaries_.clear();
    startEntity(false);
    return true;
}

bool MailDecodingSource::fillInput() {
    if (inPos_ > 0) {
        std::memmove(in_.get(), in_.get() + inPos_, inEnd_ - inPos_);
        inEnd_ -= inPos_;
        inPos_ = 0;
    }
    const long count = inner_->read(in_.get() + inEnd_, InputCapacity - inEnd_);
    if (count < 0) {
        inputFailed_ = true;
        error_ = inner_->error();
        return false;
    }
    if (count == 0) {
        inputEnded_ = true;
    }
    inEnd_ += static_cast<std::size_t>(count);
    return count > 0;
}

void MailDecodingSource::decide() {
    // The buffers are made here, not when the source is: a run opens sources ahead of their
    // turn, and only the one being read needs them.
    if (!in_) {
        in_.reset(new char[InputCapacity]);
    }
    while (inEnd_ < MailPeekSize && !inputEnded_ && !inputFailed_) {
        fillInput();
    }
    const std::string_view start(in_.get(), std::min(inEnd_, MailPeekSize));
    if (!LooksLikeMail(start)) {
        kind_ = Kind::Other;
    } else {
        kind_ = StartsWith(start, "From ") ? Kind::Mbox : Kind::Mail;
        if (!out_) {
            out_.reset(new char[OutputCapacity]);
        }
    }
}

long MailDecodingSource::read(char* data, std::size_t size) {
    if (kind_ == Kind::Undecided) {
        decide();
    }
    for (;;) {
        const std::size_t ready = finalEnd();
        if (outPos_ < ready) {
            const std::size_t count = std::min(size, ready - outPos_);
            std::memcpy(data, out_.get() + outPos_, count);
            outPos_ += count;
            return static_cast<long>(count);
        }
        if (kind_ == Kind::Other) {
            if (inPos_ < inEnd_) {
                const std::size_t count = std::min(size, inEnd_ - inPos_);
                std::memcpy(data, in_.get() + inPos_, count);
                inPos_ += count;
                return static_cast<long>(count);
            }
            if (inputFailed_) {
                return -1;
            }
            if (inputEnded_) {
                return 0;
            }
            const long count = inner_->read(data, size);
            if (count < 0) {
                error_ = inner_->error();
            }
            return count;
        }
        if (inputFailed_) {
            return -1;
        }
        if (finished_) {
            return 0;
        }
        // What is not final yet (the bytes just before the next chunk border) moves to the
        // front, and more is decoded after it.
        std::memmove(out_.get(), out_.get() + outPos_, outEnd_ - outPos_);
        outBase_ += outPos_;
        outEnd_ -= outPos_;
        outPos_ = 0;
        decodeSome(outEnd_ + size);
    }
}

std::size_t MailDecodingSource::finalEnd() const {
    // Bytes up to MaxPadding before the next border may still move behind padding, until the
    // line that crosses the border has come.
    if (finished_ || kind_ == Kind::Other) {
        return outEnd_;
    }
    const std::uint64_t settled = nextBorder_ - MaxPadding;
    return settled > outBase_ ? std::min<std::size_t>(outEnd_, settled - outBase_) : 0;
}

std::size_t MailDecodingSource::plainBodyLines() const {
    const char* begin = in_.get() + inPos_;
    const std::size_t available = inEnd_ - inPos_;
    if (available == 0 || (begin[0] == '-' && !boundaries_.empty()) ||
        (begin[0] == 'F' && kind_ == Kind::Mbox)) {
        return 0;
    }
    // A window, not the whole buffer: what is decoded is handed on soon.
    const void* lastNewline = ::memrchr(begin, '\n', std::min(available, PlainLinesWindow));
    if (lastNewline == nullptr) {
        return 0;
    }
    const char* const end = static_cast<const char*>(lastNewline) + 1;
    // The first line (after the one at inPos_) that may be a boundary or a separator ends the
    // block: one memchr per line and a look at its first bytes.
    const bool boundaries = !boundaries_.empty();
    const bool mbox = kind_ == Kind::Mbox;
    const char* line = begin;
    while (const void* newline = std::memchr(line, '\n', static_cast<std::size_t>(end - line))) {
        line = static_cast<const char*>(newline) + 1;
        const std::size_t rest = static_cast<std::size_t>(end - line);
        if (rest == 0) {
            break;
        }
        if ((boundaries && line[0] == '-' && rest >= 2 && line[1] == '-') ||
            (mbox && line[0] == 'F' && rest >= 5 && std::memcmp(line, "From ", 5) == 0)) {
            return static_cast<std::size_t>(line - begin);
        }
    }
    return static_cast<std::size_t>(end - begin);
}

void MailDecodingSource::bodyLines(std::string_view lines) {
    switch (body_) {
        case Body::Raw:
            put(lines);
            break;
        case Body::QuotedPrintable: {
            bool softBreak = false;  // never: the lines end in LF
            outEnd_ += DecodeQuotedPrintable(lines, out_.get() + outEnd_, softBreak);
            break;
        }
        case Body::Base64:
            outEnd_ += base64_.decode(lines, out_.get() + outEnd_);  // line ends are skipped
            break;
    }
}

void MailDecodingSource::decodeSome(std::size_t wanted) {
    while (outEnd_ < wanted && outEnd_ + MaxLineOutput <= OutputCapacity) {
        // Body lines that cannot be a boundary or an mbox separator are decoded all at once:
        // a body is most of a mail, and most of its lines are plain.
        if (!inHeaders_ && atLineStart_) {
            if (const std::size_t size = plainBodyLines(); size > 0) {
                bodyLines(std::string_view(in_.get() + inPos_, size));
                inPos_ += size;
                keepTokensInChunks();
                continue;
            }
        }
        const char* begin = in_.get() + inPos_;
        const std::size_t available = inEnd_ - inPos_;
        const void* newline = std::memchr(begin, '\n', available);
        if (newline != nullptr) {
            const std::size_t length = static_cast<const char*>(newline) - begin;
            const bool crLf = length > 0 && begin[length - 1] == '\r';
            takeLine(std::string_view(begin, crLf ? length - 1 : length),
                     crLf ? std::string_view("\r\n") : std::string_view("\n"), true);
            inPos_ += length + 1;
            keepTokensInChunks();
            continue;
        }
        if (!inputEnded_ && available < InputCapacity) {
            if (!fillInput() && inputFailed_) {
                return;
            }
            continue;
        }
        if (available > 0) {
            // A line longer than the buffer, or the last one, without a line end.
            takeLine(std::string_view(begin, available), {}, false);
            inPos_ = inEnd_;
            keepTokensInChunks();
            continue;
        }
        finishBody();
        finished_ = true;
        return;
    }
}

void MailDecodingSource::takeLine(std::string_view content, std::string_view ending,
                                  bool complete) {
    const bool lineStart = atLineStart_;
    atLineStart_ = complete;
    if (lineStart && content.size() >= 2 && (content[0] == 'F' || content[0] == '-')) {
        if (kind_ == Kind::Mbox && StartsWith(content, "From ")) {
            finishBody();
            boundaries_.clear();
            startEntity(false);
            return;
        }
        if (!boundaries_.empty() && content[1] == '-' && boundaryLine(content)) {
            return;
        }
    }
    if (inHeaders_) {
        headerLine(content, ending, lineStart);
    } else {
        bodyLine(content, ending);
    }
}

void MailDecodingSource::headerLine(std::string_view content, std::string_view ending,
                                    bool lineStart) {
    if (lineStart && content.empty()) {
        endField();
        put(ending);
        startBody();
        return;
    }
    if (lineStart && !IsBlank(content[0])) {
        endField();
    }
    // A folded line joins its field without its line end (RFC 5322 unfolding).
    field_.append(content);
    if (field_.size() > MaxFieldSize) {
        endField();
    }
}

void MailDecodingSource::endField() {
    if (field_.empty()) {
        return;
    }
    const std::size_t colon = field_.find(':');
    if (colon == std::string::npos) {
        put(field_);
    } else {
        const std::string_view field(field_);
        const std::string_view value = field.substr(colon + 1);
        put(field.substr(0, colon + 1));
        value_.clear();
        AppendDecodedHeaderValue(value, value_);
        put(value_);
        const std::string_view name = Trimmed(field.substr(0, colon));
        if (SameIgnoringCase(name, "content-type")) {
            const std::string_view trimmed = Trimmed(value);
            type_ = Lowered(Trimmed(trimmed.substr(0, trimmed.find(';'))));
            boundary_ = BoundaryOf(trimmed);
        } else if (SameIgnoringCase(name, "content-transfer-encoding")) {
            encoding_ = Lowered(Trimmed(value));
        }
    }
    put("\n");
    field_.clear();
}

void MailDecodingSource::startBody() {
    inHeaders_ = false;
    body_ = Body::Raw;
    const bool identity =
        encoding_.empty() || encoding_ == "7bit" || encoding_ == "8bit" || encoding_ == "binary";
    if (StartsWith(type_, "multipart/") && !boundary_.empty()) {
        boundaries_.push_back({boundary_, type_ == "multipart/digest"});
    } else if ((type_ == "message/rfc822" || type_ == "message/global" ||
                type_ == "message/news") &&
               identity) {
        startEntity(false);  // the mail it holds, headers first
    } else if (StartsWith(type_, "text/") || StartsWith(type_, "message/")) {
        if (encoding_ == "quoted-printable") {
            body_ = Body::QuotedPrintable;
        } else if (encoding_ == "base64") {
            body_ = Body::Base64;
        }
    }
}

void MailDecodingSource::bodyLine(std::string_view content, std::string_view ending) {
    switch (body_) {
        case Body::Raw:
            put(content);
            put(ending);
            break;
        case Body::QuotedPrintable: {
            bool softBreak = false;
            outEnd_ += DecodeQuotedPrintable(content, out_.get() + outEnd_, softBreak);
            if (!softBreak) {
                put(ending);
            }
            break;
        }
        case Body::Base64:
            outEnd_ += base64_.decode(content, out_.get() + outEnd_);
            break;
    }
}

bool MailDecodingSource::boundaryLine(std::string_view content) {
    const std::string_view rest = content.substr(2);
    for (std::size_t k = boundaries_.size(); k-- > 0;) {
        const std::string& boundary = boundaries_[k].text;
        if (!StartsWith(rest, boundary)) {
            continue;
        }
        std::string_view tail = rest.substr(boundary.size());
        const bool closing = StartsWith(tail, "--");
        if (closing) {
            tail.remove_prefix(2);
        }
        if (!Trimmed(tail).empty()) {
            continue;
        }
        finishBody();
        if (closing) {
            // What follows is the epilogue of that multipart, given as it is.
            boundaries_.resize(k);
            inHeaders_ = false;
            body_ = Body::Raw;
        } else {
            const bool digest = boundaries_[k].digest;
            boundaries_.resize(k + 1);
            startEntity(digest);
        }
        return true;
    }
    return false;
}

void MailDecodingSource::startEntity(bool digest) {
    inHeaders_ = true;
    field_.clear();
    type_ = digest ? "message/rfc822" : "text/plain";
    boundary_.clear();
    encoding_.clear();
    body_ = Body::Raw;
    base64_ = Base64Decoder();
}

void MailDecodingSource::finishBody() {
    if (inHeaders_) {
        endField();
    } else if (body_ == Body::Base64) {
        outEnd_ += base64_.finish(out_.get() + outEnd_);
    }
    // The text of one part never runs into the next part's.
    put("\n");
}

void MailDecodingSource::keepTokensInChunks() {
    // Every border the last line's output crossed, in order; the bytes before outPos_ are
    // handed out already, but a line's output always starts at or after them.
    char* const out = out_.get();
    while (outBase_ + outEnd_ > nextBorder_) {
        const std::size_t border = static_cast<std::size_t>(nextBorder_ - outBase_);
        const std::size_t floor = std::max(outPos_, border > MaxPadding ? border - MaxPadding : 0);
        std::size_t blank = border;
        while (blank > floor) {
            const char c = out[blank - 1];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                break;
            }
            --blank;
        }
        // out[blank - 1] is a blank: what follows it starts the next chunk.
        if (blank > floor && blank < border) {
            const std::size_t padding = border - blank;
            std::memmove(out + blank + padding, out + blank, outEnd_ - blank);
            std::memset(out + blank, '\n', padding);
            outEnd_ += padding;
        }
        nextBorder_ += ChunkSize;
    }
}

void MailDecodingSource::put(std::string_view bytes) {
    if (bytes.empty()) {
        return;  // an empty view may have no data at all
    }
    std::memcpy(out_.get() + outEnd_, bytes.data(), bytes.size());
    outEnd_ += bytes.size();
}

bool LooksLikeMail(std::string_view start) {
    return StartsWith(start, "From ") || StartsWithHeaderFields(start);
}

bool LooksLikeMailFile(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }
    std::string start(MailPeekSize, '\0');
    const long count = ReadFullyAt(fd.get(), start.data(), start.size(), 0);
    return count > 0 && LooksLikeMail(std::string_view(start.data(), std::size_t(count)));
}

namespace {

// A regular file read up to the length it had when opened, as ChunkReader reads one: a growing
// log never keeps the reader going.
class FileAtItsLength final : public ByteSource {
public:
    FileAtItsLength(UniqueFd owned, int fd, std::uint64_t length)
        : left_(length), bytes_(std::move(owned), fd) {}
    bool nextMember() override { return bytes_.nextMember(); }
    long read(char* data, std::size_t size) override {
        if (left_ == 0) {
            return 0;
        }
        const long count =
            bytes_.read(data, static_cast<std::size_t>(std::min<std::uint64_t>(size, left_)));
        if (count > 0) {
            left_ -= static_cast<std::uint64_t>(count);
        } else if (count == 0) {
            error_ = FileBecameShorter;
            return -1;
        }
        return count;
    }
    std::string error() const override { return error_.empty() ? bytes_.error() : error_; }

private:
    std::uint64_t left_;
    DescriptorSource bytes_;
    std::string error_;
};

}  // namespace

ChunkReader ReadAsMail(ChunkReader reader) {
    std::string name = reader.name();
    std::unique_ptr<ByteSource> bytes = reader.takeStream();
    if (!bytes) {
        std::optional<OpenRegularFile> file = reader.takeFile();
        if (!file) {
            return reader;
        }
        const int fd = file->fd.get();
        bytes = std::make_unique<FileAtItsLength>(std::move(file->fd), fd, file->length);
    }
    return ChunkReader::FromSource(std::make_unique<MailDecodingSource>(std::move(bytes)),
                                   std::move(name));
}

}  // namespace orlenta
