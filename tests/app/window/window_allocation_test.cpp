// A change of DPI while the window runs allocates nothing: the fonts are
// replaced one for one, the controls moved and the picture only stretched
// again. Its own executable: it replaces operator new to count allocations.
#include <gtest/gtest.h>

#include "app/window/window_fixture.h"
#include "fixtures/allocation_counter.h"

namespace {

using app::app_state;
using app_test::WindowTest;

TEST_F(WindowTest, DpiChangeAndItsRepaintAllocateNothing) {
    app_test::use_monitor_dpi(96);
    start();
    // The picture is computed at the first paint, before the change.
    RedrawWindow(app_state.hwnd_main, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    for (UINT dpi : {144u, 192u, 96u}) {
        const RECT suggested{0, 0, app::scale_px_at(764, int32_t(dpi)),
                             app::scale_px_at(468, int32_t(dpi))};
        allocation_counter::allocations = 0;
        allocation_counter::counting = true;
        SendMessageW(app_state.hwnd_main, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
        RedrawWindow(app_state.hwnd_main, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        allocation_counter::counting = false;
        EXPECT_EQ(app_state.dpi, int32_t(dpi));
        EXPECT_EQ(allocation_counter::allocations, 0u)
            << dpi << " DPI; last allocation " << allocation_counter::last_size << " bytes";
    }
}

}  // namespace
