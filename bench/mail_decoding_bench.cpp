// The mail decoder on its own, and held to GMime on a spool: how fast MailDecodingSource turns
// a file into the text a mail client shows, and whether its addresses are GMime's.
//
//   orlenta_mail_decoding_bench FILE [ROUNDS]     best MB/s of decoding alone (one thread)
//   orlenta_mail_decoding_bench --gmime FILE      the distinct addresses of both, compared;
//                                                 exit 1 when they differ
//   orlenta_mail_decoding_bench --decoded FILE    the decoded bytes, to standard output
//
// The file should be in the page cache (read it once before); the machine otherwise idle.

#include "engine/chunk_scanner.h"
#include "engine/mail_decoding_source.h"
#include "tests/support/gmime_reference.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace orlenta;

// A file as one member.
class FileSource final : public ByteSource {
public:
    explicit FileSource(const char* path) : fd_(::open(path, O_RDONLY | O_CLOEXEC)) {}
    ~FileSource() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    bool nextMember() override { return fd_ >= 0 && !std::exchange(started_, true); }
    long read(char* data, std::size_t size) override { return ::read(fd_, data, size); }
    std::string error() const override { return std::strerror(errno); }

private:
    int fd_;
    bool started_ = false;
};

std::string Decode(const char* path, std::size_t* bytesOut) {
    MailDecodingSource source(std::make_unique<FileSource>(path));
    std::string decoded;
    std::vector<char> buffer(120000);
    std::size_t total = 0;
    if (source.nextMember()) {
        long count = 0;
        while ((count = source.read(buffer.data(), buffer.size())) > 0) {
            total += static_cast<std::size_t>(count);
            if (bytesOut == nullptr) {
                decoded.append(buffer.data(), static_cast<std::size_t>(count));
            }
        }
    }
    if (bytesOut != nullptr) {
        *bytesOut = total;
    }
    return decoded;
}

std::vector<std::string> DistinctAddresses(std::string_view text) {
    std::vector<std::string_view> found;
    FindAddresses(text, found, LoneLf::EndsToken);
    std::vector<std::string> distinct;
    std::set<std::string> seen;
    for (std::string_view address : found) {
        std::string lowered(address);
        for (char& c : lowered) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (seen.insert(lowered).second) {
            distinct.emplace_back(address);
        }
    }
    return distinct;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--gmime") == 0) {
        std::ifstream file(argv[2], std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
        const std::vector<std::string> ours = DistinctAddresses(Decode(argv[2], nullptr));
        const std::vector<std::string> gmime =
            DistinctAddresses(MailAsGMimeShowsIt(bytes, bytes.compare(0, 5, "From ") == 0));
        std::printf("%zu distinct addresses decoded here, %zu through GMime: %s\n", ours.size(),
                    gmime.size(), ours == gmime ? "the same, in the same order" : "DIFFERENT");
        return ours == gmime ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "--decoded") == 0) {
        const std::string decoded = Decode(argv[2], nullptr);
        return std::fwrite(decoded.data(), 1, decoded.size(), stdout) == decoded.size() ? 0 : 1;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [ROUNDS] | --gmime FILE\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    double best = 0;
    std::size_t decoded = 0;
    off_t size = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        Decode(argv[1], &decoded);
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
        const int fd = ::open(argv[1], O_RDONLY);
        size = ::lseek(fd, 0, SEEK_END);
        ::close(fd);
        best = std::max(best, static_cast<double>(size) / 1e6 / spent.count());
    }
    std::printf("decoding alone: %.0f MB/s (%.1f MB read, %.1f MB decoded)\n", best, size / 1e6,
                decoded / 1e6);
    return 0;
}
