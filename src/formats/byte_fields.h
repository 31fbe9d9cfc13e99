// Little-endian fields written into on-stick structures.
#pragma once

#include <cstdint>

namespace formats {

inline void put_le16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

inline void put_le32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void put_le64(uint8_t* at, uint64_t value) {
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace formats
