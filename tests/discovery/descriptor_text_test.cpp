#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "discovery/disk_probe.h"

namespace {

struct TextCase {
    const char* name;
    std::string bytes;  // the descriptor; the field starts at offset 40 unless said
    uint32_t limit;     // 0: the whole of bytes
    uint32_t offset;
    uint64_t cap;
    std::string expected;
};

TEST(DescriptorText, Table) {
    const std::string head(40, 'H');
    const std::string long_text(70, 'L');
    const TextCase cases[] = {
        {"spaces trimmed, inner kept", head + "  Flash  Disk  " + '\0', 0, 40, 64, "Flash  Disk"},
        {"only spaces are trimmed", head + "\tFlash \x7F" + '\0', 0, 40, 64, "?Flash ?"},
        {"bytes above 0x7E", head + "A\x80\xFF" "B" + '\0', 0, 40, 64, "A??B"},
        {"no NUL ends at the limit", head + "FlashDrive", 0, 40, 64, "FlashDrive"},
        {"the limit cuts inside", head + "FlashDrive" + '\0', 45, 40, 64, "Flash"},
        {"offset 0 is no text", head + "Flash" + '\0', 0, 0, 64, ""},
        {"offset at the limit", head + "Flash" + '\0', 40, 40, 64, ""},
        {"offset past the limit", head + "Flash" + '\0', 40, 4000, 64, ""},
        {"only spaces", head + "     " + '\0', 0, 40, 64, ""},
        {"cut at the cap", head + long_text + '\0', 0, 40, 64, std::string(64, 'L')},
        {"trimmed before the cap", head + "  " + long_text + '\0', 0, 40, 128, long_text},
        {"empty at once", head + '\0', 0, 40, 64, ""},
    };
    for (const TextCase& c : cases) {
        const uint32_t limit = c.limit != 0 ? c.limit : static_cast<uint32_t>(c.bytes.size());
        char out[128];
        memset(out, '#', sizeof out);
        const uint64_t length = discovery::read_descriptor_text(
            reinterpret_cast<const uint8_t*>(c.bytes.data()), limit, c.offset, out, c.cap);
        EXPECT_EQ(std::string(out, length), c.expected) << c.name;
        if (length < sizeof out) {
            EXPECT_EQ(out[length], '#') << c.name << ": wrote past the text";
        }
    }
}

}  // namespace
