// How long callbacks take: a fixed histogram of durations that one thread
// fills during a run, read for the trace once the run has ended.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace asiosim {

// Buckets in tenths of a microsecond: one per tenth below 819.2 µs, then
// 128 per doubling (at most 0.79% wide) up to 2^27 tenths (about 13.4 s),
// then one bucket for anything longer. That is 9985 counters, 40 KB.
class DurationHistogram {
public:
    static constexpr uint32_t kLinearBits = 13;   // 2^13 tenths = 819.2 µs
    static constexpr uint32_t kSubBits = 7;       // 128 buckets per doubling
    static constexpr uint32_t kTopBits = 27;      // 2^27 tenths = 13.4 s
    static constexpr size_t kBuckets = (size_t{1} << kLinearBits) + (kTopBits - kLinearBits) * (size_t{1} << kSubBits) + 1;

    DurationHistogram() : counts_(kBuckets, 0) {}

    // The whole per-call cost: a division, an increment and a comparison.
    void record(std::chrono::steady_clock::duration elapsed) noexcept {
        const auto ns = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
        ++counts_[bucketOf(ns)];
        if (ns > maxNs_) maxNs_ = ns;
    }

    uint64_t count() const;
    uint64_t maxNs() const { return maxNs_; }

    // The lower bound of the bucket holding the nearest-rank percentile (the
    // smallest recorded duration with at least `percent` % of them at or
    // below it), so never above the true value and below it by less than
    // that bucket's width; past the last bounded bucket it reads 13.4 s
    // whatever the duration. 0 when nothing was recorded.
    uint64_t percentileNs(uint32_t percent) const;

    static size_t bucketOf(uint64_t ns) noexcept {
        const uint64_t tenths = ns / 100;
        if (tenths < (uint64_t{1} << kLinearBits)) return static_cast<size_t>(tenths);
        const uint32_t exponent = floorLog2(tenths);
        if (exponent >= kTopBits) return kBuckets - 1;
        const uint64_t sub = (tenths >> (exponent - kSubBits)) & ((uint64_t{1} << kSubBits) - 1);
        return (size_t{1} << kLinearBits) + (exponent - kLinearBits) * (size_t{1} << kSubBits) +
               static_cast<size_t>(sub);
    }
    static uint64_t lowerBoundNs(size_t bucket);

private:
    static uint32_t floorLog2(uint64_t value) noexcept {
#if defined(__GNUC__)
        return static_cast<uint32_t>(63 - __builtin_clzll(value));
#else
        uint32_t exponent = 0;
        while (value >>= 1) ++exponent;
        return exponent;
#endif
    }

    std::vector<uint32_t> counts_;
    uint64_t maxNs_ = 0;
};

}  // namespace asiosim
