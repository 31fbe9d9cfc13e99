// The lines of both manifests, each signed with the test key so that every
// case reaches the parser.
#include <gtest/gtest.h>

#include <cstring>

#include "manifest_test_support.h"
#include "release/manifest.h"
#include "test_signing.h"

namespace {

using namespace manifest_test;

struct LineCase {
    size_t line;  // 0-based line to replace
    std::string value;
    bool ok;
};

TEST(UpdateManifest, ReadsItsFields) {
    const std::string body = test_signing::sign(join(update_lines()));
    const auto m = read_update(body);
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->release, 6u);
    EXPECT_EQ(m->exe_size, 1048576u);
    const uint8_t expected[4] = {0x00, 0x11, 0x22, 0x33};
    EXPECT_EQ(std::memcmp(m->exe_sha256, expected, 4), 0);
    EXPECT_EQ(m->exe_sha256[31], 0x78);
}

TEST(UpdateManifest, LineRules) {
    std::string upper = DIGEST_HEX;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(c));
    const LineCase cases[] = {
        {0, "RX4-TUNDRA-INSTALLER-UPDATE-2", false},
        {0, "rx4-tundra-installer-update-1", false},
        {0, "RX4-TUNDRA-INSTALLER-UPDATE-1 ", false},
        {1, "X64", false},
        {1, "arm64", false},
        {2, "0", true},
        {2, "4294967295", true},
        {2, "4294967296", false},
        {2, "+7", true},
        {2, "1_0", true},
        {2, "1__0", true},
        {2, "_10", false},
        {2, "10_", false},
        {2, "+_10", false},
        {2, "+", false},
        {2, "", false},
        {2, "-1", false},
        {2, " 1", false},
        {2, "1 ", false},
        {2, "0x10", false},
        {2, "++1", false},
        {3, "0", false},
        {3, "1", true},
        {3, "8388608", true},
        {3, "8_388_608", true},
        {3, "8388609", false},
        {3, "18446744073709551616", false},
        {4, upper, true},
        {4, DIGEST_HEX.substr(1), false},
        {4, DIGEST_HEX + "0", false},
        {4, DIGEST_HEX.substr(1) + "g", false},
        {4, "", false},
    };
    for (const LineCase& c : cases) {
        Lines lines = update_lines();
        lines[c.line] = c.value;
        SCOPED_TRACE("line " + std::to_string(c.line + 1) + " \"" + c.value + "\"");
        EXPECT_EQ(read_update(test_signing::sign(join(lines))).has_value(), c.ok);
    }
}

TEST(UpdateManifest, DecimalValuesSkipUnderscoresAndPlus) {
    Lines lines = update_lines();
    lines[2] = "+4_294_967_295";
    lines[3] = "0008_388_608";
    const auto m = read_update(test_signing::sign(join(lines)));
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->release, 4294967295u);
    EXPECT_EQ(m->exe_size, 8388608u);
}

TEST(UpdateManifest, LineCountIsExact) {
    Lines missing = update_lines();
    missing.pop_back();
    Lines extra = update_lines();
    extra.push_back("more");
    Lines blank_at_end = update_lines();
    blank_at_end.push_back("");
    for (const Lines& lines : {missing, extra, blank_at_end}) {
        EXPECT_FALSE(read_update(test_signing::sign(join(lines))).has_value()) << join(lines);
    }
}

TEST(ReleaseManifest, ReadsItsFieldsAsSlicesOfTheBody) {
    const std::string body = test_signing::sign(join(release_lines()));
    const auto m = read_release(body);
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(str(m->version), "2.1.0-rc_1");
    EXPECT_EQ(m->image_size, 1073741824u);
    EXPECT_EQ(m->image_sha256[0], 0x00);
    EXPECT_EQ(m->image_sha256[31], 0x78);
    EXPECT_EQ(str(m->image_url), "https://localhost/images/tundra-2.1.0.img");
    EXPECT_EQ(m->version.data, body.data() + body.find("2.1.0-rc_1"));
    EXPECT_EQ(m->image_url.data, body.data() + body.find("https://"));
}

TEST(ReleaseManifest, LineRules) {
    const LineCase cases[] = {
        {0, "RX4-TUNDRA-IMAGE-2", false},
        {0, "RX4-TUNDRA-INSTALLER-UPDATE-1", false},
        {1, "Tundra", false},
        {1, "meridian", false},
        {2, std::string(48, 'v'), true},
        {2, std::string(49, 'v'), false},
        {2, "", false},
        {2, "1.0 beta", false},
        {2, "1.0+build", false},
        {2, "1.0/2", false},
        {2, "A-z_0.9", true},
        {3, "4095", false},
        {3, "4096", true},
        {3, "4608", true},
        {3, "4097", false},
        {3, "17179869184", true},
        {3, "17_179_869_184", true},
        {3, "17179869696", false},
        {3, "0", false},
        {3, "+4096", true},
        {4, DIGEST_HEX.substr(1), false},
        {4, DIGEST_HEX + "a", false},
        {4, "G" + DIGEST_HEX.substr(1), false},
        {5, "https://cdn.example.org/x?y=1", true},
        {5, "http://localhost/x", false},
        {5, "https://localhost", false},
        {5, "https://localhost:8443/x", false},
        {5, "", false},
    };
    for (const LineCase& c : cases) {
        Lines lines = release_lines();
        lines[c.line] = c.value;
        SCOPED_TRACE("line " + std::to_string(c.line + 1) + " \"" + c.value + "\"");
        EXPECT_EQ(read_release(test_signing::sign(join(lines))).has_value(), c.ok);
    }
}

TEST(ReleaseManifest, LineCountIsExact) {
    Lines missing = release_lines();
    missing.pop_back();
    Lines extra = release_lines();
    extra.push_back("https://localhost/second.img");
    Lines blank_at_end = release_lines();
    blank_at_end.push_back("");
    for (const Lines& lines : {missing, extra, blank_at_end}) {
        EXPECT_FALSE(read_release(test_signing::sign(join(lines))).has_value()) << join(lines);
    }
}

TEST(Manifests, OneKindIsNeverReadAsTheOther) {
    const std::string release_body = test_signing::sign(join(release_lines()));
    const std::string update_body = test_signing::sign(join(update_lines()));
    ASSERT_TRUE(read_release(release_body).has_value());
    ASSERT_TRUE(read_update(update_body).has_value());
    EXPECT_FALSE(read_update(release_body).has_value());
    EXPECT_FALSE(read_release(update_body).has_value());
}

TEST(Sha256Matches, ComparesSizeThenDigest) {
    // SHA-256 of "abc" (FIPS 180-2, appendix B.1).
    const uint8_t abc_sha256[32] = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea,
                                    0x41, 0x41, 0x40, 0xde, 0x5d, 0xae, 0x22, 0x23,
                                    0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17, 0x7a, 0x9c,
                                    0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    const uint8_t abc[] = {'a', 'b', 'c', 'd'};
    EXPECT_TRUE(release::sha256_matches(abc, 3, 3, abc_sha256));
    EXPECT_FALSE(release::sha256_matches(abc, 3, 4, abc_sha256));
    EXPECT_FALSE(release::sha256_matches(abc, 4, 3, abc_sha256));
    uint8_t wrong[32];
    std::memcpy(wrong, abc_sha256, 32);
    wrong[31] ^= 1;
    EXPECT_FALSE(release::sha256_matches(abc, 3, 3, wrong));
}

}  // namespace
