// The whole self-update allocates nothing: start-up with the update check,
// the check thread fetching and verifying a newer build from the local
// download host, and its installation up to the relaunch. Its own
// executable, since it replaces operator new to count.
#include <gtest/gtest.h>

#include "app/self_update/update_test_support.h"
#include "app/window/window_fixture.h"
#include "fixtures/allocation_counter.h"

namespace {

int launches = 0;
HINSTANCE WINAPI record_launch(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) {
    ++launches;
    return reinterpret_cast<HINSTANCE>(42);
}

class UpdateAllocationTest : public app_test::WindowTest {};

TEST_F(UpdateAllocationTest, FromStartToRelaunchNothingIsAllocated) {
    update_test::HostUpdate host;
    ASSERT_TRUE(host.saved()) << "the download host is not running";
    const update_test::Bytes build = update_test::pattern(200000, 6);
    host.publish(6, build);
    update_test::Folder folder;
    const std::filesystem::path running = folder / "tundra-usb-installer-x64.exe";
    ASSERT_TRUE(update_test::write_file(running, update_test::pattern(3000, 5)));
    update_test::pretend_running_from(running);
    sys::calls.ShellExecuteW = record_launch;
    machine.set_elevated(false);
    allow_update_check();

    allocation_counter::counting = true;
    ASSERT_TRUE(app::start_window());
    const ULONGLONG give_up_at = GetTickCount64() + 30000;
    while (IsWindow(app::app_state.hwnd_main) && GetTickCount64() < give_up_at) {
        app_test::pump_messages();
        Sleep(10);
    }
    allocation_counter::counting = false;

    EXPECT_EQ(launches, 1);
    EXPECT_EQ(update_test::read_file(running), build);
    EXPECT_EQ(allocation_counter::allocations.exchange(0), 0u)
        << "the last of " << allocation_counter::last_size.load() << " bytes";
}

}  // namespace
