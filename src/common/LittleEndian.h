#pragma once
// Little-endian 32-bit integers in binary data files, independent of the
// host's byte order.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

// Reads the int32 at bytes[pos] and advances pos; false when fewer than four
// bytes are left.
inline bool readInt32(std::string_view bytes, size_t& pos, int32_t& value) {
    if (pos > bytes.size() || bytes.size() - pos < 4) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + pos);
    value = static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                 (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
    pos += 4;
    return true;
}

inline void appendInt32(std::string& out, int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    const char bytes[4] = {static_cast<char>(u & 0xFF), static_cast<char>((u >> 8) & 0xFF),
                           static_cast<char>((u >> 16) & 0xFF), static_cast<char>((u >> 24) & 0xFF)};
    out.append(bytes, 4);
}

}  // namespace kestrel
