// The description file of the GUI tests' simulated machine.
#include "sim/sim_description.h"

#include <gtest/gtest.h>

#include "discovery/stick_list.h"

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

TEST(SimDescription, RefusesWhatItCannotRead) {
    const char* const texts[] = {
        "elevated maybe", "stick 1 Tundra Flash", "system-disk", "drive 1", "elevated yes no",
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
}

}  // namespace
