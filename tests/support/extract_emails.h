#pragma once

#include "engine/chunk_scanner.h"
#include "engine/seen_emails.h"

#include <functional>
#include <string_view>
#include <vector>

namespace orlenta {

// Called once before each candidate is validated.
using CandidateHook = std::function<void()>;

// The addresses of one chunk that are new to `seen`, in text order, as written in the chunk:
// StripPunctuation, then SplitCandidates, then IsValidEmail per candidate, then the
// case-insensitive check against `seen` (which the call extends). This is the plain,
// step-by-step definition the engine's scanner is held to. The views point into `chunk`.
std::vector<std::string_view> ExtractEmailsFromText(std::string_view chunk, SeenEmails& seen,
                                                    const CandidateHook& beforeCandidate = {});

// The engine's ScanChunkForEmails with a hook in place of its gate, so tests compare the two
// call for call. `found` is cleared first.
void ScanChunkForEmails(std::string_view chunk, SeenEmails& seen,
                        std::vector<std::string_view>& found, const CandidateHook& beforeCandidate,
                        LoneLf loneLf = LoneLf::Ordinary);

}  // namespace orlenta
