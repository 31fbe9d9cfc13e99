// The manifests are read on the worker and update paths, which allocate
// nothing: verify, parse and the digest check must not reach operator new.
#include <gtest/gtest.h>

#include "fixtures/allocation_counter.h"
#include "manifest_test_support.h"
#include "release/https_url.h"
#include "release/manifest.h"
#include "test_signing.h"

namespace {

using namespace manifest_test;

TEST(NoAllocation, ReadingBothManifestsAllocatesNothing) {
    const std::string release_body = test_signing::sign(join(release_lines()));
    const std::string update_body = test_signing::sign(join(update_lines()));
    const uint8_t bytes[3] = {'a', 'b', 'c'};
    const uint8_t digest[32] = {};
    const char url[] = "https://localhost/images/x.img";
    allocation_counter::counting = true;
    const auto release_text = release::verify_signed_text(view(release_body));
    const auto update_text = release::verify_signed_text(view(update_body));
    ASSERT_TRUE(release_text && update_text);
    const bool parsed = release::parse_release_manifest(*release_text).has_value() &&
                        release::parse_update_manifest(*update_text).has_value() &&
                        release::parse_https_url({url, sizeof url - 1}).ok;
    const bool matched = release::sha256_matches(bytes, 3, 3, digest);
    allocation_counter::counting = false;
    EXPECT_TRUE(parsed);
    EXPECT_FALSE(matched);
    EXPECT_EQ(allocation_counter::allocations.exchange(0), 0u)
        << "the last of " << allocation_counter::last_size.load() << " bytes";
}

}  // namespace
