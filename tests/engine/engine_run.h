// What a test of whole engine runs needs: the caller's event and counter
// frequency, the report lines collected, and a machine whose system disk is
// disk 0. Nothing may stay open after a test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/run_names.h"
#include "fixtures/sim_disk.h"
#include "fixtures/temp_file.h"

namespace fixtures {

class EngineRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.add_system_disk(0);
        engine::set_report_observer(
            [](const char* line, size_t length, void* context) {
                static_cast<std::vector<std::string>*>(context)->emplace_back(line, length);
            },
            &lines);
        run::run_inputs.disk_io_event = sys::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        run::run_inputs.perf_frequency = 1000000000;
        caller_handles = machine.open_handle_count();
    }
    void TearDown() override {
        engine::set_report_observer(nullptr, nullptr);
        EXPECT_EQ(machine.open_handle_count(), caller_handles) << "a handle outlived the run";
        EXPECT_EQ(machine.held_lock_count(), 0u);
        EXPECT_TRUE(sys::CloseHandle(run::run_inputs.disk_io_event));
        run::run_inputs.disk_io_event = nullptr;
    }

    bool has_line(const std::string& line) const {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    bool any_line_holds(const std::string& part) const {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(part) != std::string::npos;
        });
    }

    sim::Machine machine;
    std::vector<std::string> lines;
    size_t caller_handles = 0;
};

}  // namespace fixtures
