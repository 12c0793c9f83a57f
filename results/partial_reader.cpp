#include "results/partial_reader.h"

#include "engine/chunk_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orlenta {

namespace {

// Entries handed out per batch at most: few enough that a batch stays in the cache beside
// the buffer it points into (a merge walks a batch of each slice at once).
constexpr std::size_t BatchEntries = 256;

constexpr std::size_t FixedHeaderSize = 24;  // magic, version, header length

}  // namespace

PartialReader::PartialReader() = default;
PartialReader::~PartialReader() = default;

bool PartialReader::fail(std::string reason) {
    if (error_.empty()) {
        error_ = std::move(reason);
    }
    done_ = true;
    return false;
}

bool PartialReader::open(const std::string& path) {
    fd_.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat status {};
    if (!fd_ || ::fstat(fd_.get(), &status) != 0) {
        return fail(std::strerror(errno));
    }
    if (S_ISDIR(status.st_mode)) {
        return fail("is a folder, not a file");
    }
    if (!S_ISREG(status.st_mode)) {
        return fail("not a regular file (a partial is read from its end first)");
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    char fixed[FixedHeaderSize];
    const long got = ReadFullyAt(fd_.get(), fixed, sizeof fixed, 0);
    if (got < 0) {
        return fail(std::strerror(errno));
    }
    const std::size_t magicSeen =
        std::min<std::size_t>(static_cast<std::size_t>(got), PartialMagic.size());
    if (magicSeen == 0 || std::string_view(fixed, magicSeen) != PartialMagic.substr(0, magicSeen)) {
        return fail("not a partial result of orlenta-extract");
    }
    if (static_cast<std::size_t>(got) < FixedHeaderSize) {
        return fail("truncated: the header is cut short");
    }
    const std::uint32_t version = ReadU32(fixed + 16);
    if (version != PartialFormatVersion) {
        return fail("format version " + std::to_string(version) +
                    " of partial results; this orlenta-extract reads version " +
                    std::to_string(PartialFormatVersion));
    }
    const std::uint32_t headerSize = ReadU32(fixed + 20);
    if (size < FixedHeaderSize + headerSize + PartialTrailerSize) {
        return fail("truncated: shorter than its header and trailer");
    }
    head_.assign(fixed, sizeof fixed);
    head_.resize(FixedHeaderSize + headerSize);
    if (ReadFullyAt(fd_.get(), head_.data() + FixedHeaderSize, headerSize, FixedHeaderSize) !=
        long(headerSize)) {
        return fail("truncated: the header is cut short");
    }
    if (!DecodePartialHeaderFields(std::string_view(head_).substr(FixedHeaderSize), header_)) {
        return fail("corrupt: its header does not hold together");
    }
    char trailer[PartialTrailerSize];
    if (ReadFullyAt(fd_.get(), trailer, sizeof trailer, size - PartialTrailerSize) !=
        long(sizeof trailer)) {
        return fail(std::strerror(errno));
    }
    if (std::string_view(trailer + PartialTrailerSize - 4, 4) != PartialEndMagic) {
        return fail("truncated: it lacks its end (the slice may not have finished writing it)");
    }
    counts_ = DecodePartialCounts(trailer);
    countBytes_.assign(trailer, PartialCountsSize);
    recordsChecksum_ = ReadU64(trailer + PartialCountsSize);
    indexChecksum_ = ReadU64(trailer + PartialCountsSize + 8);
    const std::uint64_t body = size - head_.size() - PartialTrailerSize;
    if (counts_.recordBytes > body || counts_.indexBytes != body - counts_.recordBytes) {
        return fail("truncated or corrupt: " + std::to_string(body) +
                    " bytes of addresses where its trailer counts " +
                    std::to_string(counts_.recordBytes + counts_.indexBytes));
    }
    return true;
}

bool PartialReader::start(Section section, std::size_t bufferBytes) {
    if (!fd_ || started_) {
        return fail("cannot be read again");
    }
    started_ = true;
    section_ = section;
    checksum_ = std::make_unique<PartialChecksum>();
    std::uint64_t offset = head_.size();
    if (section == Section::Records) {
        checksum_->add(head_);
        unread_ = counts_.recordBytes;
    } else {
        offset += counts_.recordBytes;
        unread_ = counts_.indexBytes;
    }
    if (::lseek(fd_.get(), static_cast<off_t>(offset), SEEK_SET) < 0) {
        return fail(std::strerror(errno));
    }
    capacity_ = static_cast<std::size_t>(std::min<std::uint64_t>(bufferBytes, unread_ + 16));
    buffer_.reset(new char[capacity_]);  // not zeroed: every byte is read before use
    return true;
}

bool PartialReader::fill() {
    // What is left of the last read moves to the front, and the rest of the buffer is filled.
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    if (end_ == capacity_) {  // one entry longer than the buffer
        std::unique_ptr<char[]> larger(new char[capacity_ * 2]);
        std::memcpy(larger.get(), buffer_.get(), end_);
        buffer_ = std::move(larger);
        capacity_ *= 2;
    }
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(capacity_ - end_, unread_));
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = ::read(fd_.get(), buffer_.get() + end_ + got, want - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n == 0) {
            return fail("truncated: it became shorter while it was read");
        } else if (errno != EINTR) {
            return fail(std::strerror(errno));
        }
    }
    checksum_->add(buffer_.get() + end_, got);
    end_ += got;
    unread_ -= got;
    return true;
}

bool PartialReader::finishSection() {
    done_ = true;
    if (begin_ != end_) {
        return fail("corrupt: its last entry is cut short");
    }
    if (!checksumMatches()) {
        return false;
    }
    if (seen_ != counts_.records) {
        return fail("corrupt: " + std::to_string(seen_) + " addresses where its trailer counts " +
                    std::to_string(counts_.records));
    }
    return false;
}

bool PartialReader::checksumMatches() {
    if (section_ == Section::Index) {
        checksum_->add(countBytes_);
    }
    const std::uint64_t expected = section_ == Section::Records ? recordsChecksum_ : indexChecksum_;
    if (checksum_->value() != expected) {
        return fail("corrupt: its checksum does not match its content");
    }
    return true;
}

bool PartialReader::check() {
    if (done_ || !started_) {
        return started_ && !failed();
    }
    while (unread_ > 0) {
        begin_ = end_;  // nothing of what was read is kept
        if (!fill()) {
            return false;
        }
    }
    done_ = true;
    return checksumMatches();
}

template <typename Item, typename Parse>
bool PartialReader::nextItems(std::vector<Item>& items, Parse parse) {
    items.clear();
    if (done_ || !started_) {
        return false;
    }
    for (;;) {
        const char* at = buffer_.get() + begin_;
        const char* const end = buffer_.get() + end_;
        while (items.size() < BatchEntries && at < end) {
            const char* const entry = at;
            Item item{};
            const Parsed parsed = parse(at, end, item);
            if (parsed == Parsed::Bad) {
                return fail("corrupt: an entry does not hold together");
            }
            if (parsed == Parsed::NeedMore) {
                at = entry;  // cut by the end of the buffer: the next fill completes it
                break;
            }
            items.push_back(item);
        }
        begin_ = static_cast<std::size_t>(at - buffer_.get());
        seen_ += items.size();
        if (!items.empty()) {
            return true;
        }
        if (unread_ == 0) {
            return finishSection();
        }
        if (!fill()) {
            return false;
        }
    }
}

// A record's address at `at`: its length, then its bytes, at most `limit` of them.
PartialReader::Parsed PartialReader::ParseAddress(const char*& at, const char* end,
                                                  std::uint64_t limit, std::string_view& address) {
    std::uint64_t length = 0;
    if (!ReadVarint(at, end, length)) {
        return at < end ? Parsed::Bad : Parsed::NeedMore;  // too long, or cut
    }
    if (length == 0 || length > limit) {
        return Parsed::Bad;
    }
    if (length > std::uint64_t(end - at)) {
        return Parsed::NeedMore;
    }
    address = std::string_view(at, static_cast<std::size_t>(length));
    at += length;
    return Parsed::Item;
}

bool PartialReader::next(std::vector<std::string_view>& addresses) {
    const std::uint64_t limit = counts_.recordBytes;
    const std::size_t columns = header_.columns.size();
    return nextItems(addresses,
                     [limit, columns](const char*& at, const char* end, std::string_view& address) {
                         const Parsed parsed = ParseAddress(at, end, limit, address);
                         if (parsed != Parsed::Item) {
                             return parsed;
                         }
                         std::uint64_t column = 0;
                         for (std::size_t c = 0; c < columns; ++c) {
                             if (!ReadVarint(at, end, column)) {
                                 return Parsed::NeedMore;
                             }
                         }
                         return Parsed::Item;
                     });
}

bool PartialReader::next(std::vector<std::string_view>& addresses,
                         std::vector<std::uint64_t>& columns) {
    const std::uint64_t limit = counts_.recordBytes;
    const std::size_t count = header_.columns.size();
    columns.clear();
    return nextItems(addresses, [limit, count, &columns](const char*& at, const char* end,
                                                         std::string_view& address) {
        const Parsed parsed = ParseAddress(at, end, limit, address);
        if (parsed != Parsed::Item) {
            return parsed;
        }
        const std::size_t before = columns.size();
        std::uint64_t column = 0;
        for (std::size_t c = 0; c < count; ++c) {
            // Most counts take one byte.
            if (at < end && (static_cast<unsigned char>(*at) & 0x80) == 0) {
                columns.push_back(static_cast<unsigned char>(*at++));
                continue;
            }
            if (!ReadVarint(at, end, column)) {
                columns.resize(before);  // the record comes again whole after the next fill
                return Parsed::NeedMore;
            }
            columns.push_back(column);
        }
        return Parsed::Item;
    });
}

bool PartialReader::next(std::vector<PartialIndexEntry>& entries) {
    const std::uint64_t records = counts_.records;
    const std::uint64_t limit = counts_.indexBytes;
    return nextItems(entries,
                     [records, limit](const char*& at, const char* end, PartialIndexEntry& entry) {
                         if (end - at < 8) {
                             return Parsed::NeedMore;
                         }
                         entry.hash = ReadU64(at);
                         at += 8;
                         std::uint64_t length = 0;
                         if (!ReadVarint(at, end, entry.record) || !ReadVarint(at, end, length)) {
                             return at < end ? Parsed::Bad : Parsed::NeedMore;  // too long, or cut
                         }
                         if (entry.record >= records || length == 0 || length > limit) {
                             return Parsed::Bad;
                         }
                         if (length > std::uint64_t(end - at)) {
                             return Parsed::NeedMore;
                         }
                         entry.lowered = std::string_view(at, static_cast<std::size_t>(length));
                         at += length;
                         return Parsed::Item;
                     });
}

}  // namespace orlenta
