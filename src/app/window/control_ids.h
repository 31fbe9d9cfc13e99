// The ids of the window's controls. Several statics share ID_MUTED_TEXT;
// statics with id 0 take the default text colour.
#pragma once

namespace app {

constexpr int ID_VERSION_TUNDRA = 101;
constexpr int ID_REFRESH = 102;
constexpr int ID_STICK = 103;
constexpr int ID_ACTION = 104;
constexpr int ID_MINIMIZE = 105;
constexpr int ID_CLOSE = 106;
constexpr int ID_VERSION_MERIDIAN = 107;
constexpr int ID_STATUS = 201;
constexpr int ID_MUTED_TEXT = 202;
constexpr int ID_ACCENT_TEXT = 203;

}  // namespace app
