// Little- and big-endian integer codecs for the file formats.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace albumora::store {

inline std::uint16_t getLe16(const void* p) {
    const auto* b = static_cast<const unsigned char*>(p);
    return std::uint16_t(b[0] | (b[1] << 8));
}
inline std::uint32_t getLe32(const void* p) {
    const auto* b = static_cast<const unsigned char*>(p);
    return std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) | (std::uint32_t(b[2]) << 16) | (std::uint32_t(b[3]) << 24);
}
inline std::uint32_t getBe32(const void* p) {
    const auto* b = static_cast<const unsigned char*>(p);
    return (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) | std::uint32_t(b[3]);
}
inline std::uint16_t getBe16(const void* p) {
    const auto* b = static_cast<const unsigned char*>(p);
    return std::uint16_t((b[0] << 8) | b[1]);
}
inline void putLe16(void* p, std::uint16_t v) {
    auto* b = static_cast<unsigned char*>(p);
    b[0] = std::uint8_t(v);
    b[1] = std::uint8_t(v >> 8);
}
inline void putLe32(void* p, std::uint32_t v) {
    auto* b = static_cast<unsigned char*>(p);
    for (int i = 0; i < 4; ++i) b[i] = std::uint8_t(v >> (8 * i));
}
inline void putBe32(void* p, std::uint32_t v) {
    auto* b = static_cast<unsigned char*>(p);
    for (int i = 0; i < 4; ++i) b[i] = std::uint8_t(v >> (24 - 8 * i));
}
inline void putBe16(void* p, std::uint16_t v) {
    auto* b = static_cast<unsigned char*>(p);
    b[0] = std::uint8_t(v >> 8);
    b[1] = std::uint8_t(v);
}

}  // namespace albumora::store
