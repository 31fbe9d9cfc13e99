// The window's fixed texts, as UTF-16 constants.
#pragma once

#include "sys/windows_api.h"

namespace app {

inline constexpr const WCHAR* WINDOW_CLASS_NAME = U16("TundraUsbInstaller");
inline constexpr const WCHAR* WINDOW_TITLE = U16("Tundra USB Installer");
inline constexpr const WCHAR* FONT_FACE = U16("Segoe UI");

inline constexpr const WCHAR* TEXT_ACTION_WRITE = U16("Download and write USB");
inline constexpr const WCHAR* TEXT_ACTION_ELEVATE = U16("Enable USB access");
inline constexpr const WCHAR* TEXT_ACTION_PREPARING = U16("Preparing USB…");
inline constexpr const WCHAR* TEXT_NO_STICK = U16("No USB stick selected");
inline constexpr const WCHAR* TEXT_SELECT_STICK = U16("Select a USB stick  ⌄");

// Status line texts.
inline constexpr const WCHAR* STATUS_ADMIN_REQUIRED =
    U16("Windows administrator access is required to write a USB stick.");
inline constexpr const WCHAR* STATUS_CHECKING_UPDATES = U16("Checking for installer updates…");
inline constexpr const WCHAR* STATUS_STICKS_FOUND =
    U16("Writing will erase the selected USB stick.");
inline constexpr const WCHAR* STATUS_NO_STICKS = U16("Plug in a USB stick and select Refresh.");
inline constexpr const WCHAR* STATUS_TUNDRA_SELECTED =
    U16("Tundra selected. The latest public release downloads automatically.");
inline constexpr const WCHAR* STATUS_ACCESS_DECLINED =
    U16("USB access was declined. You can try again.");
inline constexpr const WCHAR* TEXT_DOT_LOCAL =
    U16("Beside this installer there is a file or folder whose name is the installer's name "
        "followed by \".local\". Windows could load program code from it into the installer "
        "once it has administrator rights, so the installer does not ask for them.\n\nDelete "
        "it (or move the installer into a folder of its own) and try again.");
inline constexpr const WCHAR* STATUS_FINDING_RELEASE = U16("Finding the latest Tundra release…");
inline constexpr const WCHAR* STATUS_WRITE_NOT_STARTED =
    U16("Windows could not start the write. Try again.");
inline constexpr const WCHAR* STATUS_WRITING = U16("Writing and verifying the USB stick…");
inline constexpr const WCHAR* STATUS_KEPT_IMAGE = U16("Using the Tundra image downloaded earlier…");
inline constexpr const WCHAR* STATUS_VERIFIED = U16("Verified. Eject the stick and boot Tundra.");
inline constexpr const WCHAR* STATUS_FLASH_FAILED =
    U16("Flash failed. Review the error and try again.");
inline constexpr const WCHAR* STATUS_KEEP_CONNECTED =
    U16("Keep the stick connected until verification completes.");

}  // namespace app
