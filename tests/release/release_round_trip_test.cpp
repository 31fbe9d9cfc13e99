// The whole way a release travels: tundra-release signed and published the
// local host's tree (download_host/start); here the installer's own code
// fetches it through WinHTTP, verifies it with the compiled-in test key and
// checks the image and the installer it names.
#include <gtest/gtest.h>
#include <sodium.h>

#include <cstring>
#include <string>
#include <vector>

#include "fetch_test_support.h"
#include "release/https_fetch.h"
#include "release/https_url.h"
#include "release/manifest.h"
#include "release/release_site.h"

namespace {

using namespace fetch_test;

TEST(ReleaseRoundTrip, ReleaseManifestAndImageStreamIntact) {
    static uint8_t manifest_body[release::MAX_RELEASE_MANIFEST_BYTES + 1];
    release::HttpStream s =
        release::http_open_get({release::DOWNLOAD_HOST, release::DOWNLOAD_HOST_LENGTH},
                               view("/install/releases/tundra.txt"), 4000);
    ASSERT_TRUE(s.ok);
    DWORD got = 0;
    uint64_t length = 0;
    do {
        ASSERT_TRUE(sys::WinHttpReadData(s.request, manifest_body + length,
                                         static_cast<DWORD>(sizeof manifest_body - length), &got));
        length += got;
    } while (got > 0 && length < sizeof manifest_body);
    sys::WinHttpCloseHandle(s.request);
    sys::WinHttpCloseHandle(s.connection);
    sys::WinHttpCloseHandle(s.session);
    ASSERT_LT(length, sizeof manifest_body);

    const auto text =
        release::verify_signed_text({reinterpret_cast<const char*>(manifest_body), length});
    ASSERT_TRUE(text.has_value());
    const auto manifest = release::parse_release_manifest(*text);
    ASSERT_TRUE(manifest.has_value());
    EXPECT_EQ(std::string(manifest->version.data, manifest->version.length), "9.8.7-test");
    const release::UrlParts url = release::parse_https_url(manifest->image_url);
    ASSERT_TRUE(url.ok);

    // Streams the image as the worker will: hashing each piece as it comes.
    s = release::http_open_get(url.host, url.path, 20000);
    ASSERT_TRUE(s.ok);
    static uint8_t piece[1 << 20];
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    uint64_t image_bytes = 0;
    bool read_ok = true;
    while ((read_ok = sys::WinHttpReadData(s.request, piece, sizeof piece, &got)) && got > 0) {
        crypto_hash_sha256_update(&state, piece, got);
        image_bytes += got;
    }
    sys::WinHttpCloseHandle(s.request);
    sys::WinHttpCloseHandle(s.connection);
    sys::WinHttpCloseHandle(s.session);
    uint8_t digest[32];
    crypto_hash_sha256_final(&state, digest);
    EXPECT_TRUE(read_ok);
    EXPECT_EQ(image_bytes, 64u * 1048576u);
    EXPECT_EQ(image_bytes, manifest->image_size);
    EXPECT_EQ(std::memcmp(digest, manifest->image_sha256, 32), 0);
}

TEST(ReleaseRoundTrip, UpdateManifestAndInstallerVerify) {
    static uint8_t manifest_body[release::MAX_UPDATE_MANIFEST_BYTES + 1];
    static uint8_t exe[release::MAX_EXE_BYTES + 1];
    release::UpdateConnection c = release::open_update_connection(release::DOWNLOAD_HOST_W);
    ASSERT_TRUE(c.ok);
    const ULONGLONG deadline = GetTickCount64() + 30000;
    const release::FetchResult m = release::http_get_to_buffer(
        c.connection, L"/install/updates/x64.txt", manifest_body, sizeof manifest_body, deadline);
    const release::FetchResult e = release::http_get_to_buffer(
        c.connection, L"/install/tundra-usb-installer-x64.exe", exe, sizeof exe, deadline);
    release::close_update_connection(c);
    ASSERT_TRUE(m.ok);
    ASSERT_TRUE(e.ok);

    const auto text =
        release::verify_signed_text({reinterpret_cast<const char*>(manifest_body), m.length});
    ASSERT_TRUE(text.has_value());
    const auto update = release::parse_update_manifest(*text);
    ASSERT_TRUE(update.has_value());
    EXPECT_EQ(update->release, 6u);
    EXPECT_TRUE(release::sha256_matches(exe, e.length, update->exe_size, update->exe_sha256));
    exe[e.length / 2] ^= 1;
    EXPECT_FALSE(release::sha256_matches(exe, e.length, update->exe_size, update->exe_sha256));
}

// The page at /install, where an installer's update warning sends its user,
// names the installer and the image that the host announces now.
TEST(ReleaseRoundTrip, InstallPageNamesTheCurrentInstallerAndImage) {
    static uint8_t page[65536];
    const std::vector<uint8_t> manifest = read_host_file("site/install/releases/tundra.txt");
    const auto text = release::verify_signed_text(
        {reinterpret_cast<const char*>(manifest.data()), manifest.size()});
    ASSERT_TRUE(text.has_value());
    const auto release = release::parse_release_manifest(*text);
    ASSERT_TRUE(release.has_value());
    const std::string image_link =
        "<a href=\"" + std::string(release->image_url.data, release->image_url.length) + "\">";
    const struct {
        const wchar_t* wide;
        const char* name;
    } paths[] = {{L"/install", "/install"}, {L"/install/", "/install/"}};
    for (const auto& path : paths) {
        SCOPED_TRACE(path.name);
        const release::FetchResult r = get(path.wide, page, sizeof page);
        ASSERT_TRUE(r.ok);
        const std::string html(reinterpret_cast<const char*>(page), r.length);
        EXPECT_NE(html.find("<a href=\"/install/tundra-usb-installer-x64.exe\">"),
                  std::string::npos);
        EXPECT_NE(html.find("release 6"), std::string::npos);
        EXPECT_NE(html.find(image_link), std::string::npos);
    }
}

}  // namespace
