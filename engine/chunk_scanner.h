#pragma once

#include "extract_emails.h"

#include <string_view>
#include <vector>

namespace orlenta {

// Exactly what ExtractEmailsFromText gives (same addresses, same order, the hook called once
// per candidate), found by jumping from "@" to "@" and widening each to its token, so the
// bytes far from any "@" are only skimmed. `found` is cleared first; its views point into
// `chunk`.
void ScanChunkForEmails(std::string_view chunk, SeenEmails& seen,
                        std::vector<std::string_view>& found,
                        const CandidateHook& beforeCandidate = {});

}  // namespace orlenta
