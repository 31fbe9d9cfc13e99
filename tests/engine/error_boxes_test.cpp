// Probing the disks and searching the volumes open every device of the
// machine, empty card-reader slots too: Windows must not be let show its
// critical-error boxes while they do, and the thread's own mode must be
// back afterwards, however the operation ended.
#include <gtest/gtest.h>

#include <functional>

#include "discovery/disk_probe.h"
#include "discovery/stick_list.h"
#include "engine/volume_lock.h"
#include "fixtures/sim_disk.h"

namespace {

constexpr DWORD CALLERS_MODE = 0x8000;  // SEM_NOOPENFILEERRORBOX, set by the caller

DWORD thread_error_mode() {
    DWORD mode = 0;
    EXPECT_TRUE(sys::SetThreadErrorMode(CALLERS_MODE, &mode));
    return mode;
}

struct QuietCase {
    const char* name;
    std::function<void(sim::Machine&)> arrange;
    std::function<void()> operation;
};

TEST(ErrorBoxes, AreOffWhileDevicesAreOpenedAndTheModeIsPutBack) {
    const std::u16string stick_volume = u"\\\\?\\Volume{5e1c0a33-0000-0000-0000-000000000003}";
    const auto lock = [] {
        (void)engine::lock_and_dismount(3);
        engine::release_volumes();
    };
    const auto list = [] {
        discovery::StickList sticks;
        discovery::build_stick_list(sticks, true);
    };
    const QuietCase cases[] = {
        {"the stick list", [](sim::Machine&) {}, list},
        {"a disk that is not there", [](sim::Machine&) {}, [] { discovery::probe_disk(40); }},
        {"a probe whose queries fail",
         [](sim::Machine& m) { m.fail_call("DeviceIoControl", ERROR_GEN_FAILURE, 0); },
         [] { discovery::probe_disk(3); }},
        {"the Windows volume's extents fail",
         [](sim::Machine& m) { m.volume(u"\\\\.\\C:")->extents_error = ERROR_GEN_FAILURE; }, list},
        {"locking the stick's volume", [](sim::Machine&) {}, lock},
        {"a lock that is refused",
         [&](sim::Machine& m) { m.volume(stick_volume)->refuse_lock_attempts = 20; }, lock},
        {"a dismount that is refused",
         [&](sim::Machine& m) { m.volume(stick_volume)->refuse_dismount = true; }, lock},
        {"a volume held by another program",
         [&](sim::Machine& m) { m.volume(stick_volume)->open_error = ERROR_SHARING_VIOLATION; },
         lock},
    };
    for (const QuietCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine machine;
        machine.add_system_disk(0);
        machine.add_stick({3});
        machine.add_volume(stick_volume, {{3, 1048576, 1048576}});
        c.arrange(machine);
        ASSERT_TRUE(sys::SetThreadErrorMode(CALLERS_MODE, nullptr));
        c.operation();
        EXPECT_GT(machine.uses("CreateFileW"), 0u);
        EXPECT_EQ(machine.device_opens_with_error_boxes(), 0u);
        EXPECT_EQ(thread_error_mode(), CALLERS_MODE);
        EXPECT_EQ(machine.open_handle_count(), 0u);
    }
}

TEST(ErrorBoxes, AModeThatCannotBeSetLeavesTheCallersModeAlone) {
    sim::Machine machine;
    machine.add_stick({3});
    ASSERT_TRUE(sys::SetThreadErrorMode(CALLERS_MODE, nullptr));
    machine.fail_call("SetThreadErrorMode", ERROR_INVALID_PARAMETER);
    machine.reset_uses();
    const discovery::ProbeResult probe = discovery::probe_disk(3);
    ASSERT_TRUE(probe.has_value());
    EXPECT_EQ(probe->size_bytes, 16000000000ull);
    EXPECT_EQ(machine.uses("SetThreadErrorMode"), 1u) << "nothing to put back";
    EXPECT_EQ(thread_error_mode(), CALLERS_MODE);
}

}  // namespace
