// Volume labels as each file system allows them.
#pragma once

#include <cstdint>

#include "formats/stick_layout.h"

namespace formats {

enum class LabelFault : uint8_t { None, Empty, TooLong, Character, EdgeSpace };

// Checks a label given in UTF-16 units against the file system's rules and,
// when it passes, stores it as the file system keeps it: FAT32 takes
// printable ASCII without * ? . , ; : / \ | + = < > [ ] " and upper-cases
// it, as Windows does; exFAT takes any character but control characters
// and " * / : < > ? \ |. Both hold at most 11 characters.
LabelFault check_label(FileSystem fs, const uint16_t* units, uint64_t length, VolumeLabel& label);

}  // namespace formats
