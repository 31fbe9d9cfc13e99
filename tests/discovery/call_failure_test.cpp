// Every Windows call that discovery makes, made to fail at each of its uses:
// the result is the specified fallback, never a crash or a leaked handle.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "discovery/disk_probe.h"
#include "discovery/stick_list.h"
#include "sim/sim_machine.h"

namespace {

void set_up(sim::Machine& machine) {
    machine.add_system_disk(0);
    machine.add_stick({1, "Tundra", "Flash", "ONE"});
    machine.add_stick({4, "Tundra", "Flash", "FOUR"});
}

// Calls whose failure changes no result: closing a query handle, and
// turning Windows' error boxes off (the query then runs with them on).
bool changes_nothing(const std::string& name) {
    return name == "CloseHandle" || name == "SetThreadErrorMode";
}

bool same_record(const discovery::StickRecord& a, const discovery::StickRecord& b) {
    return memcmp(&a, &b, sizeof a) == 0;
}

// Runs `operation` once with no fault to learn which calls it makes, then
// once for each use of each failable call with that use failing.
template <typename Operation, typename Check>
void for_each_single_failure(Operation operation, Check check) {
    std::vector<std::pair<std::string, unsigned>> uses;
    {
        sim::Machine machine;
        set_up(machine);
        operation();
        for (const std::string& name : sim::Machine::failable_calls()) {
            if (machine.uses(name.c_str()) > 0) uses.emplace_back(name, machine.uses(name.c_str()));
        }
    }
    ASSERT_FALSE(uses.empty());
    for (const auto& [name, count] : uses) {
        for (unsigned nth = 1; nth <= count; ++nth) {
            sim::Machine machine;
            set_up(machine);
            machine.fail_call(name.c_str(), ERROR_GEN_FAILURE, nth);
            check(name, nth, operation());
            EXPECT_EQ(machine.open_handle_count(), 0u) << name << " failing at use " << nth;
        }
    }
}

TEST(CallFailure, ProbeDiskFallsBackFieldByField) {
    for_each_single_failure([] { return discovery::probe_disk(1); },
                            [](const std::string& name, unsigned nth,
                               const discovery::ProbeResult& probe) {
        SCOPED_TRACE(name + " failing at use " + std::to_string(nth));
        if (name == "CreateFileW") {
            EXPECT_FALSE(probe.has_value());
            return;
        }
        ASSERT_TRUE(probe.has_value());
        if (name == "DeviceIoControl" && nth == 1) {  // the descriptor
            EXPECT_EQ(probe->bus_type, 0u);
            EXPECT_EQ(probe->serial_len, 0u);
            EXPECT_EQ(probe->size_bytes, 16000000000ull);
        } else if (name == "DeviceIoControl" && nth == 2) {  // the geometry
            EXPECT_EQ(probe->size_bytes, 0u);
            EXPECT_EQ(probe->bytes_per_sector, 512u);
            EXPECT_EQ(probe->serial_len, 3u);
        } else {
            EXPECT_TRUE(changes_nothing(name));
            EXPECT_EQ(probe->serial_len, 3u);
        }
    });
}

TEST(CallFailure, SystemDiskMaskIsZeroUnlessOnlyTheCloseFails) {
    for_each_single_failure([] { return discovery::system_disk_mask(); },
                            [](const std::string& name, unsigned, uint64_t mask) {
                                EXPECT_EQ(mask, changes_nothing(name) ? 1u : 0u) << name;
                            });
}

TEST(CallFailure, ElevationQueryFailingMeansNotElevated) {
    for_each_single_failure([] { return discovery::query_is_elevated(); },
                            [](const std::string& name, unsigned, bool elevated) {
                                EXPECT_EQ(elevated, name == "CloseHandle") << name;
                            });
}

TEST(CallFailure, StickListKeepsOnlyWhatWasProvenAndInOrder) {
    discovery::StickList full;
    {
        sim::Machine machine;
        set_up(machine);
        discovery::build_stick_list(full, true);
    }
    ASSERT_EQ(full.stick_count, 2u);
    for_each_single_failure(
        [] {
            static discovery::StickList list;
            discovery::build_stick_list(list, true);
            return &list;
        },
        [&full](const std::string& name, unsigned nth, const discovery::StickList* list) {
            // A failure can only drop a stick, never add one or alter one.
            uint64_t j = 0;
            for (uint64_t i = 0; i < list->stick_count; ++i) {
                while (j < full.stick_count && !same_record(full.sticks[j], list->sticks[i])) ++j;
                EXPECT_LT(j, full.stick_count) << name << " at use " << nth;
            }
            if (changes_nothing(name)) {
                EXPECT_EQ(list->stick_count, 2u);
            }
        });
}

}  // namespace
