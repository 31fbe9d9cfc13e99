#include "formats/volume_label.h"

namespace formats {
namespace {

bool one_of(uint16_t unit, const char* set) {
    for (; *set != 0; ++set) {
        if (unit == static_cast<uint8_t>(*set))
            return true;
    }
    return false;
}

bool fat32_allows(uint16_t unit) {
    return unit >= 0x20 && unit <= 0x7E && !one_of(unit, "*?.,;:/\\|+=<>[]\"");
}

bool exfat_allows(uint16_t unit) {
    return unit >= 0x20 && !one_of(unit, "\"*/:<>?\\|");
}

}  // namespace

LabelFault check_label(FileSystem fs, const uint16_t* units, uint64_t length, VolumeLabel& label) {
    if (length == 0)
        return LabelFault::Empty;
    if (length > LABEL_CAPACITY)
        return LabelFault::TooLong;
    const bool fat32 = fs == FileSystem::Fat32;
    // FAT32 pads its label with spaces, so spaces at either end would be
    // lost or misread.
    if (fat32 && (units[0] == ' ' || units[length - 1] == ' '))
        return LabelFault::EdgeSpace;
    VolumeLabel checked;
    for (uint64_t i = 0; i < length; ++i) {
        uint16_t unit = units[i];
        if (fat32 ? !fat32_allows(unit) : !exfat_allows(unit))
            return LabelFault::Character;
        if (fat32 && unit >= 'a' && unit <= 'z')
            unit = static_cast<uint16_t>(unit - ('a' - 'A'));
        checked.units[i] = unit;
    }
    checked.length = static_cast<uint32_t>(length);
    label = checked;
    return LabelFault::None;
}

}  // namespace formats
