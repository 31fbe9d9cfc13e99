// The framing and signature shared by both manifests.
#include <gtest/gtest.h>

#include <cstring>

#include "manifest_test_support.h"
#include "release/manifest.h"
#include "test_signing.h"

namespace {

using namespace manifest_test;
using release::verify_signed_text;

TEST(SignedText, TestBuildsTrustTheFixtureKey) {
    unsigned char key[32];
    test_signing::public_key(key);
    EXPECT_EQ(std::memcmp(key, release::RELEASE_SIGNING_KEY, 32), 0);
}

TEST(SignedText, GivesTheSignedTextWithoutItsLastLineFeed) {
    const std::string text = join(update_lines());
    for (bool upper : {false, true}) {
        const std::string body = test_signing::sign(text, upper);
        const auto verified = verify_signed_text(view(body));
        ASSERT_TRUE(verified.has_value()) << "upper-case signature: " << upper;
        EXPECT_EQ(verified->data, body.data());
        EXPECT_EQ(str(*verified), text.substr(0, text.size() - 1));
    }
}

TEST(SignedText, ShortestBodyIsOneEmptyLineAndItsSignature) {
    const std::string body = test_signing::sign("\n");
    ASSERT_EQ(body.size(), 130u);
    const auto verified = verify_signed_text(view(body));
    ASSERT_TRUE(verified.has_value());
    EXPECT_EQ(verified->length, 0u);
    EXPECT_FALSE(release::parse_update_manifest(*verified).has_value());
    EXPECT_FALSE(release::parse_release_manifest(*verified).has_value());
}

struct FramingCase {
    const char* name;
    std::string body;
};

TEST(SignedText, BrokenFramingIsRefused) {
    const std::string text = join(update_lines());
    const std::string good = test_signing::sign(text);
    std::string crlf_text;
    for (const std::string& line : update_lines())
        crlf_text += line + "\r\n";
    const std::string crlf_signed = test_signing::sign(crlf_text);
    const std::string crlf_everywhere = crlf_signed.substr(0, crlf_signed.size() - 1) + "\r\n";
    std::string non_hex = good;
    non_hex[good.size() - 10] = 'g';
    const FramingCase cases[] = {
        {"129 bytes", good.substr(good.size() - 129)},
        {"nothing", ""},
        {"no final line feed", good.substr(0, good.size() - 1)},
        {"a line after the signature", good + "extra\n"},
        {"an empty line after the signature", good + "\n"},
        {"CR LF line ends", crlf_everywhere},
        {"signature line one digit short", text + good.substr(text.size() + 1)},
        {"a non-hex digit in the signature", non_hex},
        {"an all-zero signature",
         [&] {
             std::string other = good;
             other.replace(text.size(), 128, std::string(128, '0'));
             return other;
         }()},
    };
    for (const FramingCase& c : cases) {
        EXPECT_FALSE(verify_signed_text(view(c.body)).has_value()) << c.name;
    }
}

TEST(SignedText, AnyFlippedBitIsRefused) {
    const std::string good = test_signing::sign(join(release_lines()));
    const size_t signature_start = good.size() - 129;
    for (size_t i = 0; i < good.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            std::string body = good;
            body[i] = static_cast<char>(body[i] ^ (1 << bit));
            // In the signature line, bit 5 of a letter only changes the case
            // of a hexadecimal digit: the same signature, rightly accepted.
            const bool case_only = i >= signature_start && bit == 5 && good[i] >= 'a';
            if (case_only)
                continue;
            ASSERT_FALSE(verify_signed_text(view(body)).has_value())
                << "byte " << i << " bit " << bit;
        }
    }
}

TEST(SignedText, CrLfTextSignedAsSuchStillFailsTheParsers) {
    // Signed correctly, with only the signature line ended by a plain line
    // feed: the frame holds, but each line keeps its CR.
    std::string update_text;
    for (const std::string& line : update_lines())
        update_text += line + "\r\n";
    std::string release_text;
    for (const std::string& line : release_lines())
        release_text += line + "\r\n";
    ASSERT_TRUE(verify_signed_text(view(test_signing::sign(update_text))).has_value());
    EXPECT_FALSE(read_update(test_signing::sign(update_text)).has_value());
    EXPECT_FALSE(read_release(test_signing::sign(release_text)).has_value());
}

}  // namespace
