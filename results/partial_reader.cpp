#include "results/partial_reader.h"

#include "engine/chunk_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orlenta {

namespace {

// Records are read in pieces this large: few system calls, and the set's batches stay long.
constexpr std::size_t ReadBytes = 4 * 1024 * 1024;

// Addresses handed out per batch at most.
constexpr std::size_t BatchRecords = 16384;

constexpr std::size_t FixedHeaderSize = 24;  // magic, version, header length

std::uint32_t Crc(std::uint32_t crc, const char* data, std::size_t size) {
    return static_cast<std::uint32_t>(::crc32_z(crc, reinterpret_cast<const Bytef*>(data), size));
}

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
    if (std::string_view(fixed, magicSeen) != PartialMagic.substr(0, magicSeen) || magicSeen == 0) {
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
    std::string header(headerSize, '\0');
    if (ReadFullyAt(fd_.get(), header.data(), headerSize, FixedHeaderSize) != long(headerSize)) {
        return fail(errno != 0 ? std::strerror(errno) : "truncated");
    }
    if (!DecodePartialHeaderFields(header, header_)) {
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
    countBytes_.assign(trailer, 48);
    expectedCrc_ = ReadU32(trailer + 48);
    const std::uint64_t recordBytes = size - FixedHeaderSize - headerSize - PartialTrailerSize;
    if (counts_.recordBytes != recordBytes) {
        return fail("truncated or corrupt: " + std::to_string(recordBytes) +
                    " bytes of addresses where its trailer counts " +
                    std::to_string(counts_.recordBytes));
    }
    crc_ = Crc(Crc(static_cast<std::uint32_t>(::crc32_z(0, nullptr, 0)), fixed, sizeof fixed),
               header.data(), header.size());
    if (::lseek(fd_.get(), static_cast<off_t>(FixedHeaderSize + headerSize), SEEK_SET) < 0) {
        return fail(std::strerror(errno));
    }
    unread_ = recordBytes;
    return true;
}

bool PartialReader::fill() {
    // What is left of the last read moves to the front, and the rest of the buffer is filled.
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    if (end_ == capacity_) {  // one record longer than the buffer
        std::unique_ptr<char[]> larger(new char[capacity_ * 2]);  // not zeroed
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
    crc_ = Crc(crc_, buffer_.get() + end_, got);
    end_ += got;
    unread_ -= got;
    return true;
}

bool PartialReader::next(std::vector<std::string_view>& addresses) {
    addresses.clear();
    if (done_ || !fd_) {
        return false;
    }
    if (!buffer_) {
        capacity_ = static_cast<std::size_t>(std::min<std::uint64_t>(ReadBytes, unread_ + 16));
        buffer_.reset(new char[capacity_]);  // not zeroed: every byte is read before use
    }
    for (;;) {
        const char* at = buffer_.get() + begin_;
        const char* const end = buffer_.get() + end_;
        while (addresses.size() < BatchRecords && at < end) {
            const char* record = at;
            std::uint64_t length = 0;
            bool whole = ReadVarint(at, end, length);
            if (whole && length > counts_.recordBytes) {
                return fail("corrupt: an address longer than the file");
            }
            whole = whole && length <= std::uint64_t(end - at);
            if (whole) {
                const std::string_view address(at, static_cast<std::size_t>(length));
                at += length;
                std::uint64_t column = 0;
                for (std::size_t c = 0; whole && c < header_.columns.size(); ++c) {
                    whole = ReadVarint(at, end, column);
                }
                if (whole) {
                    if (length == 0) {
                        return fail("corrupt: an empty address");
                    }
                    addresses.push_back(address);
                    continue;
                }
            }
            at = record;  // cut by the end of the buffer: the next fill completes it
            break;
        }
        begin_ = static_cast<std::size_t>(at - buffer_.get());
        recordsSeen_ += addresses.size();
        if (!addresses.empty()) {
            return true;
        }
        if (unread_ == 0) {
            break;
        }
        if (!fill()) {
            return false;
        }
    }
    done_ = true;
    crc_ = Crc(crc_, countBytes_.data(), countBytes_.size());
    if (begin_ != end_) {
        return fail("corrupt: its last address is cut short");
    }
    if (crc_ != expectedCrc_) {
        return fail("corrupt: its checksum does not match its content");
    }
    if (recordsSeen_ != counts_.records) {
        return fail("corrupt: " + std::to_string(recordsSeen_) +
                    " addresses where its trailer counts " + std::to_string(counts_.records));
    }
    return false;
}

}  // namespace orlenta
