#include "formats/gpt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/sim_disk.h"

namespace {

using fixtures::Bytes;
using fixtures::GptSlot;

std::vector<std::string> listed_lines(const engine::DiskRegion& region, engine::Result& result) {
    std::vector<std::string> lines;
    engine::set_report_observer(
        [](const char* line, size_t length, void* context) {
            static_cast<std::vector<std::string>*>(context)->emplace_back(line, length);
        },
        &lines);
    result = formats::list_partitions(region);
    engine::set_report_observer(nullptr, nullptr);
    return lines;
}

class GptTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(machine.open_handle_count(), 0u); }
    sim::Machine machine;
    formats::GptTable table;
};

TEST_F(GptTest, EntrySizes) {
    const struct {
        uint32_t size;
        bool accepted;
    } cases[] = {{128, true}, {136, true}, {512, true}, {120, false},
                 {129, false}, {520, false}, {0, false}};
    for (const auto& c : cases) {
        Bytes disk(1 << 20, 0);
        fixtures::write_gpt(disk, {{fixtures::ESP_TYPE, 2048, 4095}}, {2, c.size, 0});
        fixtures::SimDisk sim_disk(machine, disk);
        const engine::Result result = formats::read_gpt(sim_disk.region(), table);
        if (c.accepted) {
            EXPECT_EQ(result, engine::Result::Success) << c.size;
            EXPECT_EQ(table.count, 1u) << c.size;
        } else {
            EXPECT_EQ(result, engine::Result::Failed) << c.size;
            EXPECT_EQ(fixtures::failure_text(),
                      "the GPT's entry size " + std::to_string(c.size) + " is not one a GPT has");
        }
    }
}

TEST_F(GptTest, OnlyTheFirst128SlotsAndOnlyUsedOnes) {
    std::vector<GptSlot> slots;
    for (uint64_t i = 0; i < 200; ++i) slots.push_back({fixtures::OTHER_TYPE, 4096 + i, 4096 + i});
    slots[2].type = nullptr;  // an unused slot, though its LBAs and GUID are not zero
    Bytes disk(1 << 20, 0);
    fixtures::write_gpt(disk, slots);
    fixtures::SimDisk sim_disk(machine, disk);
    ASSERT_EQ(formats::read_gpt(sim_disk.region(), table), engine::Result::Success);
    ASSERT_EQ(table.count, 127u);
    EXPECT_EQ(table.entries[1].first_lba, 4097u);
    EXPECT_EQ(table.entries[2].first_lba, 4099u);  // the fourth slot is the third entry
    EXPECT_EQ(table.entries[126].first_lba, 4096u + 127);
}

TEST_F(GptTest, NoGptIsAnEmptyTable) {
    {
        fixtures::SimDisk tiny(machine, Bytes(1536, 0), 9);
        engine::DiskRegion region = tiny.region();
        region.end = 1023;
        machine.reset_uses();
        EXPECT_EQ(formats::read_gpt(region, table), engine::Result::Success);
        EXPECT_EQ(table.count, 0u);
        EXPECT_EQ(machine.uses("ReadFile"), 0u);
    }
    fixtures::SimDisk zeros(machine, Bytes(1024, 0), 8);
    machine.reset_uses();
    EXPECT_EQ(formats::read_gpt(zeros.region(), table), engine::Result::Success);
    EXPECT_EQ(table.count, 0u);
    EXPECT_EQ(machine.uses("ReadFile"), 1u);
}

TEST_F(GptTest, TundraPartitionIsTheLowerEspCutToTheDisk) {
    Bytes disk(8 << 20, 0);
    fixtures::write_gpt(disk, {{fixtures::OTHER_TYPE, 34, 2047},
                               {fixtures::ESP_TYPE, 2048, 1000000},
                               {fixtures::ESP_TYPE, 4096, 8191}});
    fixtures::SimDisk sim_disk(machine, disk);
    ASSERT_EQ(formats::read_gpt(sim_disk.region(), table), engine::Result::Success);
    const auto partition = formats::find_tundra_partition(table, sim_disk.region());
    ASSERT_TRUE(partition.has_value());
    EXPECT_EQ(partition->first, 2048u * 512);
    EXPECT_EQ(partition->end, 8u << 20);  // the entry runs past the disk's end
    EXPECT_EQ(partition->alignment, 512u);
    EXPECT_TRUE(partition->overlapped);
}

TEST_F(GptTest, EntriesWithoutAByteRangeAreLeftOut) {
    Bytes disk(1 << 20, 0);
    fixtures::write_gpt(disk, {{fixtures::ESP_TYPE, 5000, 4000},
                               {fixtures::ESP_TYPE, 1ull << 55, (1ull << 55) + 1},
                               {fixtures::OTHER_TYPE, 100, 200}});
    fixtures::SimDisk sim_disk(machine, disk);
    ASSERT_EQ(formats::read_gpt(sim_disk.region(), table), engine::Result::Success);
    ASSERT_EQ(table.count, 1u);
    EXPECT_EQ(table.entries[0].first_lba, 100u);
    EXPECT_FALSE(formats::find_tundra_partition(table, sim_disk.region()).has_value());

    Bytes distant(1 << 20, 0);
    fixtures::write_gpt(distant, {{fixtures::ESP_TYPE, 2048, 4095}}, {1ull << 55, 128, 0});
    fixtures::SimDisk far_disk(machine, distant, 8);
    EXPECT_EQ(formats::read_gpt(far_disk.region(), table), engine::Result::Failed);
    EXPECT_EQ(fixtures::failure_text(),
              "the GPT's partition entries start at sector 36028797018963968, which no disk has");
}

TEST_F(GptTest, ListingNamesRolesSizesAndUniqueGuids) {
    Bytes disk(4 << 20, 0);
    const std::vector<uint8_t> esp_guid = {0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE,
                                           0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    fixtures::write_gpt(disk, {{fixtures::ESP_TYPE, 2048, 4095, esp_guid},
                               {nullptr, 0, 0},
                               {fixtures::DATA_TYPE, 4096, 6143},
                               {fixtures::OTHER_TYPE, 6144, 6144}});
    fixtures::SimDisk sim_disk(machine, disk);
    engine::Result result;
    const std::vector<std::string> lines = listed_lines(sim_disk.region(), result);
    EXPECT_EQ(result, engine::Result::Success);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0],
              "  partition 1: TUNDRA (EFI), 1.0 MiB from 1.0 MiB, GUID "
              "12345678-9abc-def0-0123-456789abcdef\n");
    EXPECT_EQ(lines[1].substr(0, 45), "  partition 2: Tundra data, 1.0 MiB from 2.0 ");
    EXPECT_EQ(lines[2].substr(0, 40), "  partition 3: other, 0.0 MiB from 3.0 M");

    fixtures::SimDisk blank(machine, Bytes(1 << 20, 0), 8);
    EXPECT_EQ(listed_lines(blank.region(), result),
              std::vector<std::string>{"the stick has no GPT now\n"});
}

}  // namespace
