#pragma once

#include <signal.h>

#include <string>

namespace orlenta {

// Temporary files that a signal must not leave behind. A file is registered by name while it
// exists under that name; when a terminating signal arrives (Ctrl-C, SIGTERM, a closed
// terminal's SIGHUP, ...), the handler removes every registered file and the process then dies
// by that same signal, so its parent sees what ended it, as if nothing had been caught.
//
//   RemoveTemporaryFilesOnSignals();            // once, at program start
//   RegisteredTemporaryFile entry(".out.txt.Ab3dE5fG");
//   ... write the file, rename it into place ...
//   entry.release();                            // renamed away: nothing to remove any more
//
// Registering and releasing may happen on any thread; the handler may run on any thread, at any
// moment, and never sees a name half written (each entry is claimed by one side only).
// Nothing is removed when the program ends normally: the owner of the file does that.

// Installs the handlers for SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGXCPU,
// SIGXFSZ, SIGVTALRM, SIGPROF, SIGUSR1 and SIGUSR2: every signal whose default is to end the
// program, but those that cannot be caught or that report a fault of the program itself. A
// signal that was ignored at start (nohup) stays ignored.
void RemoveTemporaryFilesOnSignals();

// Blocks those signals on the calling thread for its life: work that must not be cut in half
// (the last write of a file written in place) runs inside one. A signal that arrives meanwhile
// is delivered when the scope ends.
class TerminatingSignalsBlocked final {
public:
    TerminatingSignalsBlocked();
    ~TerminatingSignalsBlocked();
    TerminatingSignalsBlocked(const TerminatingSignalsBlocked&) = delete;
    TerminatingSignalsBlocked& operator=(const TerminatingSignalsBlocked&) = delete;

private:
    sigset_t saved_;  // the thread's signal mask before
};

// One registered name, removed by the handler until release() or destruction.
class RegisteredTemporaryFile final {
public:
    RegisteredTemporaryFile() = default;
    explicit RegisteredTemporaryFile(const std::string& path);
    ~RegisteredTemporaryFile() { release(); }
    RegisteredTemporaryFile(RegisteredTemporaryFile&& other) noexcept;
    RegisteredTemporaryFile& operator=(RegisteredTemporaryFile&& other) noexcept;
    RegisteredTemporaryFile(const RegisteredTemporaryFile&) = delete;
    RegisteredTemporaryFile& operator=(const RegisteredTemporaryFile&) = delete;

    // The handler no longer removes the file (it was renamed, or removed by its owner).
    void release();

    struct Slot;

private:
    Slot* slot_ = nullptr;
};

}  // namespace orlenta
