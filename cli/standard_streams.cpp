#include "cli/standard_streams.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orlenta {

bool ReserveStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        // The contrary mode: what the closed descriptor was for fails at its first use.
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        if (opened < 0) {
            return false;
        }
        if (opened != fd) {  // the lower ones are open by now: the lowest free one is fd
            ::close(opened);
            return false;
        }
    }
    return true;
}

int CloseStandardOutput(int status) {
    const bool pending = ::__fpending(stdout) != 0;
    const bool failedBefore = std::ferror(stdout) != 0;
    const bool closeFailed = std::fclose(stdout) != 0;
    // Nothing written through a descriptor that was never open is no failure.
    if (failedBefore || (closeFailed && (pending || errno != EBADF))) {
        std::fprintf(stderr, "orlenta-extract: standard output: %s\n",
                     failedBefore && !closeFailed ? "write error" : std::strerror(errno));
        return 1;
    }
    return status;
}

}  // namespace orlenta
