#pragma once

#include "seen_emails.h"

#include <functional>
#include <string_view>
#include <vector>

namespace orlenta {

// Called once before each candidate is validated; the window yields to its event loop here.
using CandidateHook = std::function<void()>;

// The addresses of one chunk that are new to `seen`, in text order, as written in the chunk:
// StripPunctuation, then SplitCandidates, then IsValidEmail per candidate, then the
// case-insensitive check against `seen` (which the call extends). This is the plain,
// step-by-step definition; ScanChunkForEmails gives the same result faster. The views point
// into `chunk`.
std::vector<std::string_view> ExtractEmailsFromText(std::string_view chunk, SeenEmails& seen,
                                                    const CandidateHook& beforeCandidate = {});

}  // namespace orlenta
