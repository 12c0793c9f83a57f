#pragma once

#include "engine/seen_emails.h"

#include <string_view>
#include <vector>

namespace orlenta {

// Whether a lone LF (one that does not directly follow a CR) ends a token. By default it is an
// ordinary character, as in the window, where only CR LF and CR end lines; text with Unix line
// ends needs EndsToken, or addresses on consecutive lines join into one token and are lost.
// With EndsToken the scan gives what the default gives on the chunk with every LF a space.
enum class LoneLf { Ordinary, EndsToken };

// Asked before each candidate of a scan; false ends the scan at once.
class CandidateGate {
public:
    virtual bool mayGoOn() = 0;

protected:
    ~CandidateGate() = default;
};

// The addresses of one chunk that are new to `seen`, in text order, as written in the chunk,
// found by jumping from "@" to "@" and widening each to its token, so the bytes far from any
// "@" are only skimmed. `found` is cleared first; its views point into `chunk`. `gate` is
// asked before each candidate (a token holding "@" and "."), and a "no" ends the scan before
// that candidate is looked at. False when stopped so.
bool ScanChunkForEmails(std::string_view chunk, SeenEmails& seen,
                        std::vector<std::string_view>& found, CandidateGate& gate,
                        LoneLf loneLf = LoneLf::Ordinary);

// Every address of the chunk, new or not, in text order, appended to `found` (views into
// `chunk`): the scan without the set, for callers that de-duplicate elsewhere.
void FindAddresses(std::string_view chunk, std::vector<std::string_view>& found,
                   LoneLf loneLf = LoneLf::Ordinary);

// The same scan as ScanChunkForEmails to its end, asking no one.
void ScanChunkForEmails(std::string_view chunk, SeenEmails& seen,
                        std::vector<std::string_view>& found, LoneLf loneLf = LoneLf::Ordinary);

}  // namespace orlenta
