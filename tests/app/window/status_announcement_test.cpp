// Screen readers hear the status line: every text it is given raises a
// name change on it, after the text is in place, so that a reader looking at
// it reads the new one. The line is also a polite live region: a new stage
// of the work and the result raise the live-region event too, so that
// Narrator announces them wherever the user is looking, while a text that
// only changes its number (a percentage) does not.
#include <string>
#include <vector>

#include "app/app_messages.h"
#include "app/window/control_ids.h"
#include "app/window/palette.h"
#include "app/window/window_controls.h"
#include "app/window/window_fixture.h"

namespace {

using app::app_state;

struct Announcement {
    DWORD event;
    HWND hwnd;
    LONG object;
    LONG child;
    std::wstring name;  // the window's text when the event was raised
};
std::vector<Announcement> announcements;

void WINAPI record_event(DWORD event, HWND hwnd, LONG object, LONG child) {
    announcements.push_back({event, hwnd, object, child, app_test::text_of(hwnd)});
}

using app_test::send;

class StatusAnnouncementTest : public app_test::WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (IsSkipped())
            return;
        add_two_sticks();
        start();
        app_state.sticks.selected_stick = 0;
        announcements.clear();
        sys::calls.NotifyWinEvent = record_event;
    }
};

TEST_F(StatusAnnouncementTest, EachNewStatusIsAnnouncedAndEachNewStageIsLive) {
    static const char reason[] = "The stick was removed.";
    struct Case {
        const char* what;
        void (*change)();
        bool live;
    };
    const Case cases[] = {
        {"Tundra button", [] { send(WM_COMMAND, app::ID_VERSION_TUNDRA); }, true},
        {"the same text again", [] { send(WM_COMMAND, app::ID_VERSION_TUNDRA); }, true},
        {"Refresh", [] { send(WM_COMMAND, app::ID_REFRESH); }, true},
        {"close while busy",
         [] {
             app::set_busy(true);
             send(WM_CLOSE);
         },
         true},
        {"download starts", [] { send(app::APP_MSG_PROGRESS, 0); }, true},
        {"download progress", [] { send(app::APP_MSG_PROGRESS, 42); }, false},
        {"download complete", [] { send(app::APP_MSG_PROGRESS, 100); }, false},
        {"writing", [] { send(app::APP_MSG_PROGRESS, app::PROGRESS_WRITING); }, true},
        {"success", [] { send(app::APP_MSG_WRITE_RESULT, 0, 0); }, true},
        {"failure",
         [] {
             app::set_busy(true);
             app_state.result_text_length = sizeof reason - 1;
             send(app::APP_MSG_WRITE_RESULT, 0, reinterpret_cast<LPARAM>(reason));
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        announcements.clear();
        c.change();
        ASSERT_EQ(announcements.size(), c.live ? 2u : 1u);
        const DWORD events[] = {EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_LIVEREGIONCHANGED};
        for (size_t i = 0; i < announcements.size(); ++i) {
            const Announcement& heard = announcements[i];
            EXPECT_EQ(heard.event, events[i]);
            EXPECT_EQ(heard.hwnd, app_state.hwnd_status);
            EXPECT_EQ(heard.object, OBJID_CLIENT);
            EXPECT_EQ(heard.child, CHILDID_SELF);
            EXPECT_EQ(heard.name, status());
        }
    }
}

// During a write the status changes every second; a screen reader hears
// each change of stage as the live region's news, not every percent or
// every second of a countdown.
TEST_F(StatusAnnouncementTest, AStageIsAnnouncedOnceNotEveryNumber) {
    app_state.download_size_bytes = 3100000000;
    const struct {
        const char* what;
        std::vector<std::pair<UINT, WPARAM>> messages;
        size_t heard;
    } stages[] = {
        {"the download's percents and amounts",
         {{app::APP_MSG_PROGRESS, 1},
          {app::APP_MSG_DOWNLOAD_AMOUNT, 31000000},
          {app::APP_MSG_PROGRESS, 2},
          {app::APP_MSG_DOWNLOAD_AMOUNT, 62000000}},
         1},
        {"the countdown before trying again",
         {{app::APP_MSG_DOWNLOAD_RETRY, 8}, {app::APP_MSG_DOWNLOAD_RETRY, 7}},
         1},
        {"the download again", {{app::APP_MSG_PROGRESS, 3}, {app::APP_MSG_PROGRESS, 4}}, 1},
        {"the write's percents",
         {{app::APP_MSG_PROGRESS, app::PROGRESS_WRITING},
          {app::APP_MSG_WRITE_PROGRESS, 5},
          {app::APP_MSG_WRITE_PROGRESS, 6}},
         1},
    };
    for (const auto& stage : stages) {
        SCOPED_TRACE(stage.what);
        announcements.clear();
        for (const auto& [message, wparam] : stage.messages)
            send(message, wparam, message == app::APP_MSG_DOWNLOAD_AMOUNT ? 600 : 0);
        size_t live = 0;
        for (const Announcement& heard : announcements)
            live += heard.event == EVENT_OBJECT_LIVEREGIONCHANGED ? 1 : 0;
        EXPECT_EQ(live, stage.heard);
    }
    EXPECT_EQ(status(), L"Writing and verifying the USB stick… 6%");
}

TEST_F(StatusAnnouncementTest, ATextThatCouldNotBeSetIsNotAnnounced) {
    const std::wstring before = status();
    machine.fail_call("SetWindowTextW", ERROR_NOT_ENOUGH_MEMORY, 0);
    app::set_status(L"Never shown", app::COLOR_ACCENT);
    EXPECT_EQ(status(), before);
    EXPECT_TRUE(announcements.empty());
}

}  // namespace
