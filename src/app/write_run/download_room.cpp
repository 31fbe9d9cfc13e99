#include "app/write_run/download_room.h"

#include "app/wide_path.h"
#include "run/path_text.h"
#include "text/number_format.h"

namespace app {
namespace {

constexpr uint64_t TENTH_GB_BYTES = 100000000;
constexpr char NO_ROOM_START[] = "There is not enough free space to download Tundra: it needs ";
constexpr char NO_ROOM_END[] = ". Free up space on that drive and try again.";
constexpr char UNNAMED_FOLDER[] = "the temporary folder";

struct RoomBuffers {
    WidePath folder;
    char text[NO_ROOM_TEXT_BYTES];
};
RoomBuffers buffers;

// The temporary folder, NUL-terminated; length 0 when Windows gives none
// that fits.
uint64_t read_temp_folder() {
    const DWORD length = sys::GetTempPathW(WIDE_PATH_UNITS, buffers.folder.units);
    buffers.folder.length = length < WIDE_PATH_UNITS ? length : 0;
    buffers.folder.units[buffers.folder.length] = 0;
    return buffers.folder.length;
}

// Up to the next tenth of a GB, as the text shows one digit.
uint64_t rounded_up_to_tenth_gb(uint64_t bytes) {
    const uint64_t tenths = bytes / TENTH_GB_BYTES + (bytes % TENTH_GB_BYTES != 0 ? 1 : 0);
    return tenths > UINT64_MAX / TENTH_GB_BYTES ? bytes : tenths * TENTH_GB_BYTES;
}

}  // namespace

bool temp_drive_has_room(uint64_t image_bytes) {
    if (read_temp_folder() == 0)
        return true;
    ULARGE_INTEGER free_to_caller{};
    if (!sys::GetDiskFreeSpaceExW(buffers.folder.units, &free_to_caller, nullptr, nullptr))
        return true;
    return free_to_caller.QuadPart >= image_bytes;
}

bool is_disk_full_error(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

text::ByteText no_room_text(uint64_t image_bytes) {
    text::TextWriter out(buffers.text, sizeof buffers.text);
    text::compose(out, NO_ROOM_START, text::Gb{rounded_up_to_tenth_gb(image_bytes)}, " GB in ");
    const text::ByteText folder =
        read_temp_folder() != 0 ? run::path_text({buffers.folder.units, buffers.folder.length})
                                : text::ByteText{};
    const size_t room = sizeof buffers.text - out.length() - (sizeof NO_ROOM_END - 1);
    if (!folder.is_none() && folder.length <= room)
        out.put(folder);
    else
        out.put(UNNAMED_FOLDER);
    out.put(NO_ROOM_END);
    return {out.data(), out.length()};
}

}  // namespace app
