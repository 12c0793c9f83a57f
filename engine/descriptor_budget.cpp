#include "engine/descriptor_budget.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>

#include <algorithm>

namespace orlenta {

namespace {

// Descriptors left to the rest of the process while the run holds its budget: the output, a
// message, a library that opens a file.
constexpr std::size_t KeptForOthers = 4;

// The descriptors open in this process now.
std::size_t OpenDescriptors(std::size_t limit) {
    if (DIR* folder = ::opendir("/proc/self/fd")) {
        std::size_t count = 0;
        while (const dirent* entry = ::readdir(folder)) {
            if (entry->d_name[0] != '.') {
                ++count;
            }
        }
        ::closedir(folder);
        return count > 0 ? count - 1 : 0;  // less the folder's own
    }
    std::size_t count = 0;
    for (std::size_t fd = 0; fd < std::min<std::size_t>(limit, 65536); ++fd) {
        if (::fcntl(static_cast<int>(fd), F_GETFD) != -1) {
            ++count;
        }
    }
    return count;
}

std::size_t FreeDescriptors(std::size_t most) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur > most + 65536) {
        return most;
    }
    const auto soft = static_cast<std::size_t>(limit.rlim_cur);
    const std::size_t open = OpenDescriptors(soft) + KeptForOthers;
    return open < soft ? soft - open : 0;
}

}  // namespace

DescriptorBudget::Claim& DescriptorBudget::Claim::operator=(Claim&& other) noexcept {
    if (this != &other) {
        release();
        budget_ = other.budget_;
        other.budget_ = nullptr;
    }
    return *this;
}

void DescriptorBudget::Claim::release() {
    if (budget_ != nullptr) {
        budget_->giveBack();
        budget_ = nullptr;
    }
}

DescriptorBudget::DescriptorBudget(std::size_t most)
    : budget_(std::clamp<std::size_t>(FreeDescriptors(most), 1, std::max<std::size_t>(most, 1))) {}

DescriptorBudget::Claim DescriptorBudget::tryClaimAhead() {
    MutexLock lock(mutex_);
    if (stopping_ || aheadRefused_ || held_ + 1 >= budget_) {
        return Claim();
    }
    ++held_;
    return Claim(this);
}

DescriptorBudget::Claim DescriptorBudget::claim() {
    MutexLock lock(mutex_);
    ++held_;
    return Claim(this);
}

std::size_t DescriptorBudget::outOfDescriptors(FailedOpen where) {
    MutexLock lock(mutex_);
    budget_ = std::max<std::size_t>(held_, 1);
    aheadRefused_ |= where == FailedOpen::AtItsTurn;
    return held_;
}

void DescriptorBudget::waitBelow(std::size_t held) {
    MutexLock lock(mutex_);
    while (!stopping_ && held_ >= held) {
        lock.wait(changed_);
    }
}

void DescriptorBudget::stop() {
    MutexLock lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
}

std::size_t DescriptorBudget::held() const {
    MutexLock lock(mutex_);
    return held_;
}

void DescriptorBudget::giveBack() {
    MutexLock lock(mutex_);
    --held_;
    changed_.notify_all();
}

}  // namespace orlenta
