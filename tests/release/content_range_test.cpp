// Only the exact rest of the same file may continue a download.
#include "release/content_range.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ContentRangeTest, OnlyTheExactRestContinues) {
    const struct {
        const char* header;
        uint64_t from;
        uint64_t total;
        bool continues;
    } rows[] = {
        {"bytes 100-999/1000", 100, 1000, true},
        {"bytes 100-999/*", 100, 1000, true},
        {"bytes 0-999/1000", 0, 1000, true},
        {"bytes 999-999/1000", 999, 1000, true},
        {"bytes 4294967296-8589934591/8589934592", 4294967296ull, 8589934592ull, true},
        {"bytes 101-999/1000", 100, 1000, false},   // not where we stopped
        {"bytes 99-999/1000", 100, 1000, false},    // bytes we have again
        {"bytes 100-998/1000", 100, 1000, false},   // a piece, not the rest
        {"bytes 100-1999/2000", 100, 1000, false},  // another file's length
        {"bytes 100-999/2000", 100, 1000, false},
        {"bytes 100-999/", 100, 1000, false},
        {"bytes 100-999/1000x", 100, 1000, false},
        {"bytes 100-999/ 1000", 100, 1000, false},
        {"bytes  100-999/1000", 100, 1000, false},
        {"Bytes 100-999/1000", 100, 1000, false},
        {"items 100-999/1000", 100, 1000, false},
        {"bytes */1000", 100, 1000, false},
        {"bytes -999/1000", 100, 1000, false},
        {"bytes 100-/1000", 100, 1000, false},
        {"bytes 100-999", 100, 1000, false},
        {"bytes 18446744073709551716-999/1000", 100, 1000, false},  // 2^64 + 100
        {"bytes 100-999/1000", 1000, 1000, false},                  // nothing left to ask for
        {"", 0, 1000, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.header);
        EXPECT_EQ(release::content_range_continues({row.header, std::strlen(row.header)}, row.from,
                                                   row.total),
                  row.continues);
    }
    EXPECT_FALSE(release::content_range_continues({}, 0, 1000));
}

}  // namespace
