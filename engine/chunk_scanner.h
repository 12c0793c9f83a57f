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

// Asked before each candidate of a scan; false ends the scan at once.
class CandidateGate {
public:
    virtual bool mayGoOn() = 0;

protected:
    ~CandidateGate() = default;
};

// The same scan for callers that may want to stop it: `gate` is asked before each candidate,
// and a "no" ends the scan before that candidate is looked at. False when stopped so.
bool ScanChunkForEmails(std::string_view chunk, SeenEmails& seen,
                        std::vector<std::string_view>& found, CandidateGate& gate);

}  // namespace orlenta
