// Reading the callback duration histogram once a run has ended.
#include "timing.h"

namespace asiosim {

uint64_t DurationHistogram::count() const {
    uint64_t total = 0;
    for (uint32_t n : counts_) total += n;
    return total;
}

uint64_t DurationHistogram::percentileNs(uint32_t percent) const {
    const uint64_t total = count();
    if (total == 0) return 0;
    const uint64_t rank = (total * percent + 99) / 100;  // 1-based, rounded up
    uint64_t seen = 0;
    for (size_t bucket = 0; bucket < counts_.size(); ++bucket) {
        seen += counts_[bucket];
        if (seen >= rank) return lowerBoundNs(bucket);
    }
    return lowerBoundNs(counts_.size() - 1);
}

uint64_t DurationHistogram::lowerBoundNs(size_t bucket) {
    constexpr size_t linear = size_t{1} << kLinearBits;
    if (bucket < linear) return uint64_t{bucket} * 100;
    const size_t steps = size_t{1} << kSubBits;
    const auto exponent = static_cast<uint32_t>((bucket - linear) / steps) + kLinearBits;
    const uint64_t sub = (bucket - linear) % steps;
    return ((steps + sub) << (exponent - kSubBits)) * 100;
}

}  // namespace asiosim
