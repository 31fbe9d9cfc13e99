#include "app/window/control_table.h"

#include "app/window/control_ids.h"
#include "app/window/window_texts.h"
#include "release/installer_release.h"

namespace app {

using enum ControlKind;
using enum FontRole;

// Rows 1 to 4 sit in the header band, 5 to 7 on the card drawn into the
// background at the left, the rest form the main column.
const ControlSpec CONTROLS[CONTROL_COUNT] = {
    {label, U16("rx4s"), 0, 43, 8, 59, 29, brand},
    {label, U16("Tundra USB Installer  ·  v") U16_OF(TUNDRA_INSTALLER_RELEASE_TEXT), ID_MUTED_TEXT,
     103, 13, 330, 23, body},
    {button, U16("−"), ID_MINIMIZE, 679, 8, 31, 27, control},
    {button, U16("×"), ID_CLOSE, 719, 8, 31, 27, control},
    {label, U16("Tundra"), 0, 38, 306, 181, 44, title},
    {label, U16("Boot from USB"), ID_ACCENT_TEXT, 40, 353, 177, 26, control},
    {label, U16("Start Tundra from a USB stick."), ID_MUTED_TEXT, 40, 390, 177, 32, body},
    {label, U16("Create a bootable USB"), 0, 260, 68, 480, 48, title},
    {label, U16("Choose a version and the USB stick to write it to."), ID_MUTED_TEXT, 262, 114, 476,
     26, body},
    {label, U16("Version"), 0, 262, 144, 300, 25, control},
    {button, U16("Tundra"), ID_VERSION_TUNDRA, 260, 167, 196, 43, control},
    {button, U16("Meridian  ·  Coming soon"), ID_VERSION_MERIDIAN, 469, 167, 271, 43, control},
    {label, U16("USB stick"), 0, 262, 235, 300, 25, control},
    {button, TEXT_NO_STICK, ID_STICK, 260, 259, 338, 43, control},
    {button, U16("Refresh"), ID_REFRESH, 610, 259, 130, 43, control},
    {label, U16("Writing erases the selected USB stick. Back it up first."), ID_MUTED_TEXT, 262,
     318, 479, 24, body},
    {button, nullptr, ID_ACTION, 260, 385, 220, 43, control},
    {label, U16(""), ID_STATUS, 499, 385, 239, 53, body},
};

const WCHAR* initial_text(const ControlSpec& control, bool is_elevated) {
    if (control.id != ID_ACTION)
        return control.text;
    return is_elevated ? TEXT_ACTION_WRITE : TEXT_ACTION_ELEVATE;
}

}  // namespace app
