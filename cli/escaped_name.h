#pragma once

#include <string>
#include <string_view>

namespace orlenta {

// A file name as it is shown on standard error, so that no name can retitle or clear the
// user's terminal (ESC sequences) or forge a line of its own (a newline): the control bytes
// 0x00 to 0x1F and 0x7F are written as C escapes, as `ls -b` writes them, and the backslash is
// doubled so that the escaping cannot be mistaken for bytes of the name. Every other byte is
// kept, whatever the encoding. Examples: "a\nb" -> "a\\nb", "\033]0;x\a" -> "\\033]0;x\\a",
// "C:\\x" -> "C:\\\\x", "caf\xe9.txt" -> itself.
//   \a \b \t \n \v \f \r   BEL, BS, TAB, LF, VT, FF, CR
//   \ooo                   any other control byte, three octal digits (ESC is \033)
//   \\                     the backslash
std::string EscapedName(std::string_view name);

}  // namespace orlenta
