#include "results/partial_format.h"

#ifdef ORLENTA_CHECKSUM_AVX2
#include "results/partial_checksum_avx2.h"
#endif

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <cstring>

namespace orlenta {

namespace {

void AppendU16(std::string& out, std::uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}

// Reads the header's fields one after another, each checked against the end.
class FieldReader final {
public:
    explicit FieldReader(std::string_view bytes) : at_(bytes.data()), end_(at_ + bytes.size()) {}

    bool number(std::uint64_t& value, int size) {
        if (end_ - at_ < size) {
            return false;
        }
        value = 0;
        for (int i = 0; i < size; ++i) {
            value |= static_cast<std::uint64_t>(static_cast<unsigned char>(at_[i])) << (8 * i);
        }
        at_ += size;
        return true;
    }
    bool text(std::string& value, int lengthSize) {
        std::uint64_t length = 0;
        if (!number(length, lengthSize) || static_cast<std::uint64_t>(end_ - at_) < length) {
            return false;
        }
        value.assign(at_, static_cast<std::size_t>(length));
        at_ += length;
        return true;
    }
    bool bytes(unsigned char* out, std::size_t size) {
        if (static_cast<std::size_t>(end_ - at_) < size) {
            return false;
        }
        std::memcpy(out, at_, size);
        at_ += size;
        return true;
    }

private:
    const char* at_;
    const char* end_;
};

}  // namespace

void AppendU64(std::string& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

void AppendU32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

std::string EncodePartialHeader(const PartialHeader& header) {
    std::string fields;
    AppendU16(fields, static_cast<std::uint16_t>(header.programVersion.size()));
    fields += header.programVersion;
    AppendU32(fields, header.sliceIndex);
    AppendU32(fields, header.sliceCount);
    fields.append(reinterpret_cast<const char*>(header.inputFingerprint.data()),
                  header.inputFingerprint.size());
    AppendU32(fields, header.options);
    AppendU16(fields, static_cast<std::uint16_t>(header.columns.size()));
    for (const std::string& column : header.columns) {
        fields += static_cast<char>(column.size());
        fields += column;
    }
    AppendU32(fields, static_cast<std::uint32_t>(header.sourceNames.size()));
    for (const std::string& name : header.sourceNames) {
        AppendU32(fields, static_cast<std::uint32_t>(name.size()));
        fields += name;
    }
    std::string out(PartialMagic);
    AppendU32(out, PartialFormatVersion);
    AppendU32(out, static_cast<std::uint32_t>(fields.size()));
    return out + fields;
}

bool DecodePartialHeaderFields(std::string_view bytes, PartialHeader& header) {
    FieldReader read(bytes);
    std::uint64_t index = 0;
    std::uint64_t count = 0;
    std::uint64_t options = 0;
    std::uint64_t columns = 0;
    if (!read.text(header.programVersion, 2) || !read.number(index, 4) || !read.number(count, 4) ||
        !read.bytes(header.inputFingerprint.data(), header.inputFingerprint.size()) ||
        !read.number(options, 4) || !read.number(columns, 2)) {
        return false;
    }
    header.sliceIndex = static_cast<std::uint32_t>(index);
    header.sliceCount = static_cast<std::uint32_t>(count);
    header.options = static_cast<std::uint32_t>(options);
    header.columns.resize(static_cast<std::size_t>(columns));
    for (std::string& column : header.columns) {
        if (!read.text(column, 1)) {
            return false;
        }
    }
    std::uint64_t names = 0;
    if (!read.number(names, 4) || names > bytes.size() / 4) {
        return false;
    }
    header.sourceNames.resize(static_cast<std::size_t>(names));
    for (std::string& name : header.sourceNames) {
        if (!read.text(name, 4)) {
            return false;
        }
    }
    return true;
}

std::string EncodePartialCounts(const PartialCounts& counts) {
    std::string out;
    for (std::uint64_t value :
         {counts.sources, counts.sourcesRead, counts.skipped, counts.foldersUnreadable,
          counts.records, counts.recordBytes, counts.indexBytes}) {
        AppendU64(out, value);
    }
    return out;
}

PartialCounts DecodePartialCounts(const char* bytes) {
    PartialCounts counts;
    counts.sources = ReadU64(bytes);
    counts.sourcesRead = ReadU64(bytes + 8);
    counts.skipped = ReadU64(bytes + 16);
    counts.foldersUnreadable = ReadU64(bytes + 24);
    counts.records = ReadU64(bytes + 32);
    counts.recordBytes = ReadU64(bytes + 40);
    counts.indexBytes = ReadU64(bytes + 48);
    return counts;
}

struct PartialChecksum::State {
    XXH3_state_t xxh;
};

PartialChecksum::PartialChecksum() : state_(std::make_unique<State>()) {
    XXH3_64bits_reset(&state_->xxh);
}

PartialChecksum::~PartialChecksum() = default;

void PartialChecksum::add(const char* data, std::size_t size) {
#ifdef ORLENTA_CHECKSUM_AVX2
    // A merge checks every byte of its partials: AVX2 where the processor has it.
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        UpdatePartialChecksumAvx2(&state_->xxh, data, size);
        return;
    }
#endif
    XXH3_64bits_update(&state_->xxh, data, size);
}

std::uint64_t PartialChecksum::value() const {
    return XXH3_64bits_digest(&state_->xxh);
}

void AppendVarint(std::string& out, std::uint64_t value) {
    while (value >= 0x80) {
        out += static_cast<char>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    out += static_cast<char>(value);
}

}  // namespace orlenta
