// The stick row: the popup menu of the sticks found, the choice it records
// and the label it leaves on the stick button, and Refresh, which always
// asks for a new choice.
#include <vector>

#include "app/window/control_ids.h"
#include "app/window/palette.h"
#include "app/window/stick_row.h"
#include "app/window/window_controls.h"
#include "app/window/window_fixture.h"

namespace {

using app::app_state;
using app_test::enabled;
using app_test::text_of;
using app_test::WindowTest;

struct MenuItem {
    UINT id;
    std::wstring text;
    bool checked;
};

// What the menu looked like when it was opened, and how it was opened.
struct MenuRecord {
    int opened = 0;
    UINT flags = 0;
    int x = 0, y = 0;
    HWND owner = nullptr;
    std::vector<MenuItem> items;
    UINT_PTR answer = 0;  // the id the "user" picks; 0 dismisses the menu
    int destroyed = 0;
};
MenuRecord menu;

BOOL WINAPI record_track(HMENU handle, UINT flags, int x, int y, int, HWND owner, const RECT*) {
    ++menu.opened;
    menu.flags = flags;
    menu.x = x;
    menu.y = y;
    menu.owner = owner;
    menu.items.clear();
    for (int i = 0; i < GetMenuItemCount(handle); ++i) {
        wchar_t text[300] = {};
        GetMenuStringW(handle, i, text, 300, MF_BYPOSITION);
        const bool checked = (GetMenuState(handle, i, MF_BYPOSITION) & MF_CHECKED) != 0;
        menu.items.push_back({GetMenuItemID(handle, i), text, checked});
    }
    return static_cast<BOOL>(menu.answer);
}

BOOL WINAPI record_destroy(HMENU handle) {
    ++menu.destroyed;
    return DestroyMenu(handle);
}

class StickPickerTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (IsSkipped())
            return;
        menu = {};
        sys::calls.TrackPopupMenu = record_track;
        sys::calls.DestroyMenu = record_destroy;
    }

    // Three sticks, added out of disk order on purpose.
    void start_with_three_sticks() {
        machine.add_system_disk(0);
        machine.add_stick({3, "Kingston", "DataTraveler", "KS3"});
        machine.add_stick({1, "Tundra", "Flash", "ONE"});
        machine.add_stick({2, "SanDisk", "Ultra", "SD2", 32000000000ull});
        start();
    }

    void pick(UINT_PTR answer) {
        menu.answer = answer;
        SendMessageW(app_state.hwnd_main, WM_COMMAND, app::ID_STICK, 0);
    }

    RECT stick_button_rect() const {
        RECT rect{};
        GetWindowRect(app_state.hwnd_stick, &rect);
        return rect;
    }
};

TEST_F(StickPickerTest, ListsTheSticksInDiskOrderAndRecordsTheChoice) {
    start_with_three_sticks();
    const std::wstring status_before = status();
    pick(2);
    ASSERT_EQ(menu.opened, 1);
    EXPECT_EQ(menu.flags, static_cast<UINT>(TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON));
    const RECT button = stick_button_rect();
    EXPECT_EQ(menu.x, button.left);
    EXPECT_EQ(menu.y, button.bottom);
    EXPECT_EQ(menu.owner, app_state.hwnd_main);
    const std::vector<MenuItem> expected = {
        {1, L"Tundra Flash  ·  Disk 1  ·  16.0 GB  ·  ONE", false},
        {2, L"SanDisk Ultra  ·  Disk 2  ·  32.0 GB  ·  SD2", false},
        {3, L"Kingston DataTraveler  ·  Disk 3  ·  16.0 GB  ·  KS3", false},
    };
    ASSERT_EQ(menu.items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(menu.items[i].id, expected[i].id);
        EXPECT_EQ(menu.items[i].text, expected[i].text);
        EXPECT_EQ(menu.items[i].checked, expected[i].checked);
    }
    EXPECT_EQ(menu.destroyed, 1);

    EXPECT_EQ(app_state.sticks.selected_stick, 1u);
    EXPECT_EQ(text_of(app_state.hwnd_stick), L"SanDisk Ultra  ·  Disk 2  ·  32.0 GB");
    EXPECT_TRUE(enabled(app_state.hwnd_action));
    EXPECT_EQ(status(), status_before);
}

// Windows would hide a single "&" as an access-key mark, in the menu and on
// the button alike, and screen readers would leave it out of the name.
TEST_F(StickPickerTest, AnAmpersandInAStickNameIsShownAsWritten) {
    machine.add_system_disk(0);
    machine.add_stick({1, "M&M", "R&D", "ONE"});
    start();
    pick(1);
    ASSERT_EQ(menu.items.size(), 1u);
    EXPECT_EQ(menu.items[0].text, L"M&&M R&&D  ·  Disk 1  ·  16.0 GB  ·  ONE");
    EXPECT_EQ(text_of(app_state.hwnd_stick), L"M&&M R&&D  ·  Disk 1  ·  16.0 GB");
}

TEST_F(StickPickerTest, DismissingKeepsTheChoiceAndTheMenuMarksIt) {
    start_with_three_sticks();
    pick(3);
    pick(0);  // Esc or a click elsewhere
    ASSERT_EQ(menu.opened, 2);
    EXPECT_FALSE(menu.items[0].checked);
    EXPECT_FALSE(menu.items[1].checked);
    EXPECT_TRUE(menu.items[2].checked);
    EXPECT_EQ(app_state.sticks.selected_stick, 2u);
    EXPECT_EQ(text_of(app_state.hwnd_stick), L"Kingston DataTraveler  ·  Disk 3  ·  16.0 GB");
    EXPECT_EQ(menu.destroyed, 2);

    pick(3);  // the chosen one again: the same label
    EXPECT_EQ(app_state.sticks.selected_stick, 2u);
    EXPECT_EQ(text_of(app_state.hwnd_stick), L"Kingston DataTraveler  ·  Disk 3  ·  16.0 GB");
}

TEST_F(StickPickerTest, AnIdOutsideTheListChangesNothing) {
    start_with_three_sticks();
    pick(4);
    EXPECT_FALSE(app_state.sticks.selected_stick.has_value());
    EXPECT_EQ(text_of(app_state.hwnd_stick), L"Select a USB stick  ⌄");
    EXPECT_FALSE(enabled(app_state.hwnd_action));
}

// Refresh after start-up, from a window where a stick is chosen (its label
// on the button, the action button usable) and the status line shows
// something else: the choice goes, whether sticks are found again or not.
TEST_F(StickPickerTest, RefreshAsksForANewChoice) {
    start_with_three_sticks();
    struct Row {
        const char* what;
        void (*unplug)(sim::Machine&);
        const wchar_t* button;
        bool button_enabled;
        const wchar_t* status;
        COLORREF colour;
    };
    const Row rows[] = {
        {"sticks still plugged in", [](sim::Machine&) {}, L"Select a USB stick  ⌄", true,
         L"Writing will erase the selected USB stick.", app::COLOR_WARNING},
        {"every stick unplugged",
         [](sim::Machine& m) {
             m.remove_drive(1);
             m.remove_drive(2);
             m.remove_drive(3);
         },
         L"No USB stick selected", false, L"Plug in a USB stick and select Refresh.",
         app::COLOR_MUTED},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        pick(1);
        ASSERT_EQ(app_state.sticks.selected_stick, 0u);
        ASSERT_EQ(text_of(app_state.hwnd_stick), L"Tundra Flash  ·  Disk 1  ·  16.0 GB");
        ASSERT_TRUE(enabled(app_state.hwnd_action));
        app::set_status(L"something else", app::COLOR_ACCENT);

        row.unplug(machine);
        SendMessageW(app_state.hwnd_main, WM_COMMAND, app::ID_REFRESH, 0);
        EXPECT_FALSE(app_state.sticks.selected_stick.has_value());
        EXPECT_EQ(text_of(app_state.hwnd_stick), row.button);
        EXPECT_EQ(enabled(app_state.hwnd_stick), row.button_enabled);
        EXPECT_EQ(status(), row.status);
        EXPECT_EQ(app_state.status_color, row.colour);
        EXPECT_FALSE(enabled(app_state.hwnd_action));
        EXPECT_EQ(text_of(app_state.hwnd_action), L"Download and write USB");
    }
}

TEST_F(StickPickerTest, NoMenuWhileBusyOrWithoutSticks) {
    start_with_three_sticks();
    app::set_busy(true);
    app::show_stick_menu();
    EXPECT_EQ(machine.uses("CreatePopupMenu"), 0u);
    app::set_busy(false);

    app_state.sticks.stick_count = 0;
    app::show_stick_menu();
    EXPECT_EQ(machine.uses("CreatePopupMenu"), 0u);
    EXPECT_EQ(menu.opened, 0);
}

TEST_F(StickPickerTest, AMenuThatCannotBeMadeOrPlacedDoesNotOpen) {
    start_with_three_sticks();
    machine.fail_call("CreatePopupMenu", ERROR_NOT_ENOUGH_MEMORY);
    pick(1);
    EXPECT_EQ(menu.opened, 0);
    EXPECT_EQ(menu.destroyed, 0);

    machine.fail_call("GetWindowRect", ERROR_INVALID_WINDOW_HANDLE);
    pick(1);
    EXPECT_EQ(menu.opened, 0);
    EXPECT_EQ(menu.destroyed, 1);  // made, then given back

    machine.fail_call("AppendMenuW", ERROR_NOT_ENOUGH_MEMORY, 2);
    pick(1);
    EXPECT_EQ(menu.opened, 0);  // a menu missing a stick would offer the wrong list
    EXPECT_EQ(menu.destroyed, 2);
    EXPECT_FALSE(app_state.sticks.selected_stick.has_value());
}

TEST_F(StickPickerTest, NotElevatedListsNothing) {
    machine.set_elevated(false);
    start_with_three_sticks();
    EXPECT_EQ(app_state.sticks.stick_count, 0u);
    EXPECT_FALSE(enabled(app_state.hwnd_stick));
    EXPECT_FALSE(enabled(app_state.hwnd_refresh));
    pick(1);
    EXPECT_EQ(menu.opened, 0);

    // Refresh leaves the administrator text and the relaunch offer alone.
    SendMessageW(app_state.hwnd_main, WM_COMMAND, app::ID_REFRESH, 0);
    EXPECT_EQ(status(), L"Windows administrator access is required to write a USB stick.");
    EXPECT_EQ(app_state.status_color, app::COLOR_MUTED);
    EXPECT_EQ(text_of(app_state.hwnd_stick), L"No USB stick selected");
    EXPECT_FALSE(enabled(app_state.hwnd_stick));
    EXPECT_TRUE(enabled(app_state.hwnd_action));
}

}  // namespace
