// The description file of the GUI tests' simulated machine.
#include "sim/sim_description.h"

#include <gtest/gtest.h>

#include <fstream>

#include "discovery/stick_list.h"
#include "fixtures/temp_file.h"

namespace {

TEST(SimDescription, DescribesTokenAndDisks) {
    sim::Machine machine;
    std::string error;
    ASSERT_TRUE(sim::apply_description(machine,
                                       "# a stick beside the system disk\r\n"
                                       "elevated yes\n"
                                       "system-disk 0\n"
                                       "\n"
                                       "stick 3 Kingston DataTraveler KT-77 32000000000  # USB\n",
                                       error))
        << error;
    discovery::StickList list;
    discovery::build_stick_list(list, true);
    ASSERT_EQ(list.stick_count, 1u);
    EXPECT_EQ(list.sticks[0].disk_number, 3u);
    EXPECT_EQ(std::string(list.sticks[0].serial, list.sticks[0].serial_len), "KT-77");
    EXPECT_EQ(list.sticks[0].size_bytes, 32000000000u);

    ASSERT_TRUE(sim::apply_description(machine, "elevated no", error));
    EXPECT_FALSE(discovery::query_is_elevated());
}

TEST(SimDescription, AStickCanLiveInAFile) {
    fixtures::TempFile file("described-stick.img", fixtures::Bytes{});
    {
        sim::Machine machine;
        std::string error;
        ASSERT_TRUE(sim::apply_description(
            machine,
            "stick 3 Kingston DataTraveler KT-77 8000000000 " + file.narrow() + "  # 8 GB\n",
            error))
            << error;
        const sim::Drive* stick = machine.drive(3);
        ASSERT_NE(stick, nullptr);
        EXPECT_EQ(stick->size_bytes, 8000000000u);
        EXPECT_TRUE(stick->file.is_open());
        EXPECT_EQ(stick->file.path(), file.narrow());
        discovery::StickList list;
        discovery::build_stick_list(list, true);
        ASSERT_EQ(list.stick_count, 1u);
        EXPECT_EQ(list.sticks[0].size_bytes, 8000000000u);
        std::ifstream made(file.narrow(), std::ios::binary | std::ios::ate);
        EXPECT_EQ(static_cast<uint64_t>(made.tellg()), 8000000000u) << "made as large as the stick";
    }
}

TEST(SimDescription, RefusesWhatItCannotRead) {
    const char* const texts[] = {
        "elevated maybe", "stick 1 Tundra Flash", "system-disk",
        "drive 1",        "elevated yes no",      "stick 1 Tundra Flash SN1 4096 one.img two.img",
    };
    for (const char* text : texts) {
        sim::Machine machine;
        std::string error;
        EXPECT_FALSE(sim::apply_description(machine, std::string("# ok\n") + text, error)) << text;
        EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    }
    sim::Machine machine;
    std::string error;
    EXPECT_FALSE(sim::load_description(machine, "/nonexistent/description", error));

    // Understood, but the file cannot be made: the reason is given and no
    // stick is left behind.
    const fixtures::TempFile file("described-missing", fixtures::Bytes{});
    const std::string path = file.narrow() + "-folder/stick.img";
    EXPECT_FALSE(sim::apply_description(machine, "stick 1 Tundra Flash SN1 4096 " + path, error));
    EXPECT_NE(error.find("line 1 not understood: "), std::string::npos) << error;
    EXPECT_NE(error.find("(cannot open " + path), std::string::npos) << error;
    EXPECT_EQ(machine.drive(1), nullptr);
}

}  // namespace
