#pragma once

#include <string>
#include <string_view>

namespace orlenta {

// What GMime's object parser shows of a mail or an mbox spool (`mbox`: the bytes begin with a
// "From " line): per message and per part, the header fields with encoded words decoded, the
// text parts (text/*, message/*) decoded from their transfer encoding, other parts as they
// are, multipart prologues and epilogues, one LF between pieces. The reference that
// MailDecodingSource's addresses are held to.
std::string MailAsGMimeShowsIt(std::string_view bytes, bool mbox);

}  // namespace orlenta
