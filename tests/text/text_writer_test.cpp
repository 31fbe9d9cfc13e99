#include "text/text_writer.h"

#include <gtest/gtest.h>

#include <string>

TEST(TextWriter, CutsAtCapacityAndRemembersIt) {
    char buffer[8];
    text::TextWriter out(buffer, sizeof buffer);
    out.put("12345");
    EXPECT_FALSE(out.was_cut());
    out.put("678");
    EXPECT_FALSE(out.was_cut());  // exactly full is not cut
    EXPECT_EQ(out.length(), 8u);
    out.put("9");
    EXPECT_TRUE(out.was_cut());
    EXPECT_EQ(std::string(buffer, out.length()), "12345678");
}
