#pragma once

namespace orlenta {

// Makes sure descriptors 0, 1 and 2 are open before anything else opens a file, as gnulib's
// stdopen does: a closed one is opened on /dev/null, for writing if it is standard input and
// for reading otherwise, so that using it fails ("Bad file descriptor") instead of reading or
// writing a file opened later in its place (`-o out.txt ... 2>&-` would put the messages into
// out.txt). False, with nothing opened in their place, when /dev/null cannot be opened.
bool ReserveStandardDescriptors();

// Flushes and closes standard output, as gnulib's close_stdout does at exit, so that a write
// that failed late (a full disk, an NFS server that reports at close) does not pass for
// success: names the failure on standard error and returns 1; otherwise returns `status`.
int CloseStandardOutput(int status);

}  // namespace orlenta
