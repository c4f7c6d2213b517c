// A stable radix sort of plain elements by a 64-bit word each: index keys by their first bytes,
// rows to prefetch by their record numbers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

namespace albumora::store {

// n >= 1 elements in the order of one of their words, least significant digit first, 11 bits
// at a time. Stable: elements with equal words keep the order they came in. Digits in which no
// two words differ are skipped. other: room for n elements; the sorted ones end up in held.
template <class H, class Word>
inline void radixByWord(H* held, H* other, size_t n, Word word) {
    constexpr int kBits = 11;
    constexpr int kPasses = 6;
    constexpr size_t kBuckets = size_t(1) << kBits;
    std::array<std::array<std::uint32_t, kBuckets>, kPasses> hist{};
    const std::uint64_t first = word(held[0]);
    std::uint64_t differ = 0;
    for (size_t i = 0; i < n; ++i) {
        const std::uint64_t w = word(held[i]);
        differ |= w ^ first;
        for (int p = 0; p < kPasses; ++p) ++hist[size_t(p)][(w >> (p * kBits)) & (kBuckets - 1)];
    }
    H* src = held;
    H* dst = other;
    for (int p = 0; p < kPasses; ++p) {
        const int shift = p * kBits;
        if (((differ >> shift) & (kBuckets - 1)) == 0) continue;
        auto& count = hist[size_t(p)];
        std::uint32_t sum = 0;
        for (std::uint32_t& c : count) {
            const std::uint32_t k = c;
            c = sum;
            sum += k;
        }
        for (size_t i = 0; i < n; ++i) dst[count[(word(src[i]) >> shift) & (kBuckets - 1)]++] = src[i];
        std::swap(src, dst);
    }
    if (src != held) std::memcpy(static_cast<void*>(held), src, n * sizeof(H));
}

}  // namespace albumora::store
