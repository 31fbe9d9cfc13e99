// Narrator announces a new stage of the work and the result by itself, but
// not each new number of the same stage.
#include "app/window/status_stage.h"

#include <gtest/gtest.h>

namespace {

TEST(StatusStage, OnlyANewStageIsAnnounced) {
    const struct {
        const WCHAR* shown;
        const WCHAR* next;
        bool announced;
    } cases[] = {
        {U16(""), U16("Finding the latest Tundra release…"), true},
        {U16("Finding the latest Tundra release…"), U16("Downloading Tundra… 0%"), true},
        {U16("Downloading Tundra… 0%"), U16("Downloading Tundra… 1%"), false},
        {U16("Downloading Tundra… 9%"), U16("Downloading Tundra… 100%"), false},
        {U16("Downloaded 1.2 GB of 3.4 GB, 12 s left"),
         U16("Downloaded 1.3 GB of 3.4 GB, 11 s left"), false},
        {U16("Downloading Tundra… 100%"), U16("Writing and verifying the USB stick…"), true},
        {U16("Writing and verifying the USB stick… 99%"),
         U16("Verified. Eject the stick and boot Tundra."), true},
        {U16("Writing and verifying the USB stick…"),
         U16("Flash failed. Review the error and try again."), true},
        // A stage with a number that another stage's text happens to start like.
        {U16("Downloading Tundra… 5%"), U16("Downloading Meridian… 5%"), true},
        // Without a number there is nothing to tell apart: the text is news.
        {U16("Keep the stick connected until verification completes."),
         U16("Keep the stick connected until verification completes."), true},
        {nullptr, U16("Plug in a USB stick and select Refresh."), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        EXPECT_EQ(app::starts_new_stage(c.shown, c.next), c.announced);
    }
}

}  // namespace
