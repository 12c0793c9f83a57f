#pragma once

#include <QtGlobal>

#include <array>

namespace orlenta {

class PointerSetting;

// The window's long operations. The run, the folder scan and the comma-delimited save yield to
// the event loop while they work, so any button may be pressed in the middle of one of them.
enum class LongWork { Run, FolderScan, ListSave, CommaSave };

// The one guard every long operation goes through: it decides which may start while others
// work, and it owns the window's hourglass.
//
// Who may start (the row works, the column is pressed; "-" = the press is ignored):
//
//                Run    FolderScan  ListSave  CommaSave
//   Run           -       starts     starts    starts
//   FolderScan  starts      -        starts    starts
//   ListSave    starts    starts       -         -
//   CommaSave   starts    starts       -         -
//
// The same command pressed again while it works is ignored. Only one save at a time: a save
// started inside a comma-delimited save's yields would finish first, and the outer save,
// holding the older copy of the list, would then write last. The run, the scan and a save get
// on together: the run and the scan only append to their lists (the run reads the source list
// by position and the scan adds at its end; removal waits for the run), and a save writes a
// copy of the results taken when it begins.
//
// The hourglass is counted: each operation that shows it (the run, the scan once a folder is
// chosen, the comma-delimited save once a name is chosen) adds one, and the pointer returns to
// the default only when the last of them ends, in whatever order they end. The hover feedback
// never replaces it.
class LongWorkGuard final {
public:
    explicit LongWorkGuard(PointerSetting& windowPointer);
    Q_DISABLE_COPY_MOVE(LongWorkGuard)

    // One operation, from its press to its end however it ends (a refused question, a failed
    // write, a stop because the window closed, an exception).
    class Scope final {
    public:
        ~Scope();
        Q_DISABLE_COPY_MOVE(Scope)

        // False when the guard refused the operation: the press is ignored.
        explicit operator bool() const { return guard_ != nullptr; }

        // Puts up the hourglass (once) until the scope ends.
        void showHourglass();

    private:
        friend class LongWorkGuard;
        Scope(LongWorkGuard* guard, LongWork work);

        LongWorkGuard* const guard_;
        const LongWork work_;
        bool hourglass_ = false;
    };

    // Starts `work`, or refuses it by the table above.
    [[nodiscard]] Scope start(LongWork work);

    bool mayStart(LongWork work) const;
    bool isRunning(LongWork work) const { return running_[Index(work)]; }

private:
    static int Index(LongWork work) { return static_cast<int>(work); }
    void raiseHourglass();
    void lowerHourglass();

    PointerSetting& pointer_;
    std::array<bool, 4> running_{};
    int hourglasses_ = 0;
};

}  // namespace orlenta
