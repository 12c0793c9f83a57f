#include "engine/temporary_files.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

namespace orlenta {

// A slot goes Free -> Filling -> Live; then either the owner takes it back (Live -> Emptying ->
// Free) or the handler claims it (Live -> Claimed, for good: the process is dying). Only the
// side that moved a slot out of Live touches its name, so the handler never reads a name that
// is being written or freed.
struct RegisteredTemporaryFile::Slot {
    enum State : int { Free, Filling, Live, Emptying, Claimed };
    std::atomic<int> state{Free};
    char* path = nullptr;
};

namespace {

constexpr int Signals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGTERM, SIGPIPE, SIGALRM,
                           SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGUSR1, SIGUSR2};

// Slots come in groups that are linked once and never freed, so the handler can walk them
// without a lock while other threads add groups.
struct SlotGroup {
    RegisteredTemporaryFile::Slot slots[32];
    std::atomic<SlotGroup*> next{nullptr};
};

SlotGroup firstGroup;

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<SlotGroup*>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

using Slot = RegisteredTemporaryFile::Slot;

Slot* TakeFreeSlot() {
    for (SlotGroup* group = &firstGroup;;) {
        for (Slot& slot : group->slots) {
            int expected = Slot::Free;
            if (slot.state.compare_exchange_strong(expected, Slot::Filling)) {
                return &slot;
            }
        }
        SlotGroup* next = group->next.load();
        if (next == nullptr) {
            SlotGroup* fresh = new SlotGroup;
            if (group->next.compare_exchange_strong(next, fresh)) {
                next = fresh;
            } else {
                delete fresh;  // another thread linked one first: `next` is that one
            }
        }
        group = next;
    }
}

extern "C" void RemoveAndDie(int signal) {
    const int savedErrno = errno;
    for (SlotGroup* group = &firstGroup; group != nullptr; group = group->next.load()) {
        for (Slot& slot : group->slots) {
            int expected = Slot::Live;
            if (slot.state.compare_exchange_strong(expected, Slot::Claimed)) {
                ::unlink(slot.path);
            }
        }
    }
    // Die by the same signal: it is blocked while this handler runs, so raising it leaves it
    // pending, and returning delivers it with the default action.
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigemptyset(&defaultAction.sa_mask);
    ::sigaction(signal, &defaultAction, nullptr);
    ::raise(signal);
    errno = savedErrno;
}

sigset_t TerminatingSignals() {
    sigset_t set;
    ::sigemptyset(&set);
    for (const int signal : Signals) {
        ::sigaddset(&set, signal);
    }
    return set;
}

}  // namespace

void RemoveTemporaryFilesOnSignals() {
    struct sigaction action {};
    action.sa_handler = RemoveAndDie;
    action.sa_mask = TerminatingSignals();  // one handler at a time on a thread
    for (const int signal : Signals) {
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
            ::sigaction(signal, &action, nullptr);
        }
    }
}

TerminatingSignalsBlocked::TerminatingSignalsBlocked() {
    const sigset_t set = TerminatingSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

TerminatingSignalsBlocked::~TerminatingSignalsBlocked() {
    ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}

RegisteredTemporaryFile::RegisteredTemporaryFile(const std::string& path) : slot_(TakeFreeSlot()) {
    slot_->path = new char[path.size() + 1];
    std::memcpy(slot_->path, path.c_str(), path.size() + 1);
    slot_->state.store(Slot::Live);
}

RegisteredTemporaryFile::RegisteredTemporaryFile(RegisteredTemporaryFile&& other) noexcept
    : slot_(std::exchange(other.slot_, nullptr)) {}

RegisteredTemporaryFile& RegisteredTemporaryFile::operator=(
    RegisteredTemporaryFile&& other) noexcept {
    if (this != &other) {
        release();
        slot_ = std::exchange(other.slot_, nullptr);
    }
    return *this;
}

void RegisteredTemporaryFile::release() {
    if (slot_ == nullptr) {
        return;
    }
    int expected = Slot::Live;
    // When the handler has claimed the slot, the process is about to die: leave it be.
    if (slot_->state.compare_exchange_strong(expected, Slot::Emptying)) {
        delete[] slot_->path;
        slot_->path = nullptr;
        slot_->state.store(Slot::Free);
    }
    slot_ = nullptr;
}

}  // namespace orlenta
