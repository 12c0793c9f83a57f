#include "cli/slice_plan.h"

#include "cli/escaped_name.h"

#include <QCryptographicHash>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

namespace orlenta {

namespace {

// Bytes of the list before the cut that falls nearest `target`, which lies inside `size` bytes
// from `start`: inside a source larger than a slice at the nearest multiple of ReadSize from its
// start; otherwise at its nearer end.
std::uint64_t CutNear(std::uint64_t target, std::uint64_t start, std::uint64_t size,
                      std::uint64_t total, unsigned count) {
    const std::uint64_t within = target - start;
    if (size > total / count) {  // larger than a slice
        const std::uint64_t reads = (within + ReadSize / 2) / ReadSize;
        const std::uint64_t cut = reads * ReadSize;
        if (cut > 0 && cut < size) {
            return start + cut;
        }
    }
    return within <= size - within ? start : start + size;
}

void AddNumber(QCryptographicHash& hash, std::uint64_t value) {
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    }
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(bytes), sizeof bytes));
}

void AddText(QCryptographicHash& hash, const std::string& text) {
    AddNumber(hash, text.size());
    hash.addData(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
}

}  // namespace

InputSizes SizesOfInputs(const std::vector<Input>& inputs) {
    InputSizes result;
    result.sizes.reserve(inputs.size());
    for (const Input& input : inputs) {
        if (input.kind == Input::Kind::StandardInput) {
            result.refusal = "standard input cannot be cut into slices: it has no size";
            return result;
        }
        struct stat status {};
        std::uint64_t size = 0;
        if (::stat(input.path.c_str(), &status) == 0) {
            if (S_ISFIFO(status.st_mode) && input.kind == Input::Kind::Path) {
                result.refusal =
                    EscapedName(input.path) + ": a pipe cannot be cut into slices: it has no size";
                return result;
            }
            if (S_ISREG(status.st_mode)) {
                size = static_cast<std::uint64_t>(status.st_size);
            }
        }
        result.sizes.push_back(size);
    }
    return result;
}

std::vector<std::uint64_t> SliceBounds(const std::vector<std::uint64_t>& sizes, unsigned count,
                                       bool wholeSources) {
    std::vector<std::uint64_t> starts;
    starts.reserve(sizes.size());
    std::uint64_t total = 0;
    for (std::uint64_t size : sizes) {
        starts.push_back(total);
        total += size;
    }
    std::vector<std::uint64_t> bounds(count + 1, 0);
    bounds[count] = total;
    for (unsigned k = 1; k < count; ++k) {
        // total * k / count, without overflow: count is at most a million.
        const std::uint64_t target = total / count * k + total % count * k / count;
        // The last source starting at or before the target: the one it lies in, unless it is a
        // boundary already.
        const auto after = std::upper_bound(starts.begin(), starts.end(), target);
        std::uint64_t cut = target;
        if (after != starts.begin()) {
            const auto i = static_cast<std::size_t>(after - starts.begin() - 1);
            if (target > starts[i] && target < starts[i] + sizes[i]) {
                const std::uint64_t end = starts[i] + sizes[i];
                cut = !wholeSources ? CutNear(target, starts[i], sizes[i], total, count)
                      : target - starts[i] <= end - target ? starts[i]
                                                           : end;
            }
        }
        bounds[k] = std::max(cut, bounds[k - 1]);
    }
    return bounds;
}

SlicePlan PlanSlice(const std::vector<Input>& inputs, const std::vector<std::uint64_t>& sizes,
                    SliceChoice choice, bool wholeSources) {
    const std::vector<std::uint64_t> bounds = SliceBounds(sizes, choice.count, wholeSources);
    const std::uint64_t low = bounds[choice.index - 1];
    const std::uint64_t high = bounds[choice.index];
    const std::uint64_t total = bounds[choice.count];
    const bool last = choice.index == choice.count;
    SlicePlan plan;
    std::uint64_t start = 0;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::uint64_t size = sizes[i];
        const std::uint64_t end = start + size;
        const bool startsHere = (start >= low && start < high) || (last && start == total);
        const bool inSlice = size == 0 ? startsHere : std::max(start, low) < std::min(end, high);
        if (inSlice && plan.inputs.empty()) {
            plan.firstInput = i;
        }
        if (size == 0) {
            if (startsHere) {
                plan.inputs.push_back(inputs[i]);
            }
        } else if (inSlice) {
            Input part = inputs[i];
            if (start < low || end > high) {
                part.range = {std::max(start, low) - start, std::min(end, high) - start};
            }
            plan.inputs.push_back(std::move(part));
        }
        plan.sourcesStarting += startsHere ? 1 : 0;
        start = end;
    }
    return plan;
}

InputFingerprint FingerprintOf(const InputList& list, const std::vector<std::uint64_t>& sizes,
                               std::uint32_t optionBits) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    AddNumber(hash, optionBits);
    AddNumber(hash, list.inputs.size());
    for (std::size_t i = 0; i < list.inputs.size(); ++i) {
        AddNumber(hash, static_cast<std::uint64_t>(list.inputs[i].kind));
        AddText(hash, list.inputs[i].path);
        AddNumber(hash, i < sizes.size() ? sizes[i] : 0);
    }
    AddNumber(hash, list.unreadable.size());
    for (const UnreadableInput& folder : list.unreadable) {
        AddText(hash, folder.path);
    }
    const QByteArray digest = hash.result();
    InputFingerprint fingerprint{};
    std::memcpy(fingerprint.data(), digest.constData(),
                std::min<std::size_t>(fingerprint.size(), static_cast<std::size_t>(digest.size())));
    return fingerprint;
}

}  // namespace orlenta
