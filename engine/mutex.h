#pragma once

#include "engine/thread_annotations.h"

#include <condition_variable>
#include <mutex>

namespace orlenta {

// std::mutex as a capability the thread-safety analysis knows (libstdc++'s is not annotated).
// Lock it through MutexLock.
class CAPABILITY("mutex") Mutex final {
public:
    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }

private:
    friend class MutexLock;
    std::mutex mutex_;
};

// Holds a Mutex for its scope. Waits are written as loops over a predicate that only reads,
// so the analysis sees the guarded fields read with the mutex held:
//   MutexLock lock(mutex_);
//   while (!ready()) {   // ready() is const and REQUIRES(mutex_)
//       lock.wait(changed_);
//   }
class SCOPED_CAPABILITY MutexLock final {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
    ~MutexLock() RELEASE() {}
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    // Lets the mutex go until `changed` is notified (or a spurious wake-up), then holds it
    // again.
    void wait(std::condition_variable& changed) { changed.wait(lock_); }

private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace orlenta
