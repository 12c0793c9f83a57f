#pragma once

// Clang's thread-safety analysis (-Wthread-safety) checks at compile time that a field marked
// GUARDED_BY(mutex) is only touched with that mutex held, and that a function marked
// REQUIRES(mutex) is only called so. The shape is abseil's thread_annotations.h; other
// compilers see nothing. The analysis only knows mutexes declared as capabilities: use
// engine/mutex.h, not std::mutex, for state shared between threads.

#if defined(__clang__)
#define ORLENTA_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ORLENTA_THREAD_ANNOTATION(x)
#endif

// A type that is a lock (a mutex).
#define CAPABILITY(name) ORLENTA_THREAD_ANNOTATION(capability(name))

// A type whose objects hold a lock from construction to destruction.
#define SCOPED_CAPABILITY ORLENTA_THREAD_ANNOTATION(scoped_lockable)

// The field is read and written only with the lock held.
#define GUARDED_BY(x) ORLENTA_THREAD_ANNOTATION(guarded_by(x))

// What the pointer points to is touched only with the lock held.
#define PT_GUARDED_BY(x) ORLENTA_THREAD_ANNOTATION(pt_guarded_by(x))

// The caller holds the lock.
#define REQUIRES(...) ORLENTA_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))

// The caller does not hold the lock (the function takes it).
#define EXCLUDES(...) ORLENTA_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

// The function takes the lock and returns with it held.
#define ACQUIRE(...) ORLENTA_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))

// The function lets go of a lock held on entry.
#define RELEASE(...) ORLENTA_THREAD_ANNOTATION(release_capability(__VA_ARGS__))

// For the rare function the analysis cannot follow; say why where it is used.
#define NO_THREAD_SAFETY_ANALYSIS ORLENTA_THREAD_ANNOTATION(no_thread_safety_analysis)
