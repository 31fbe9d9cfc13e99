// The window's colours, as COLORREF values (0x00BBGGRR).
#pragma once

#include <cstdint>

namespace app {

constexpr uint32_t COLOR_TEXT = 0xFAEDEB;     // 235, 237, 250
constexpr uint32_t COLOR_MUTED = 0xC1A8A1;    // 161, 168, 193
constexpr uint32_t COLOR_ACCENT = 0xFFABCA;   // 202, 171, 255
constexpr uint32_t COLOR_WARNING = 0x82C7F6;  // 246, 199, 130
constexpr uint32_t COLOR_SUCCESS = 0xB7E26B;  // 107, 226, 183

}  // namespace app
