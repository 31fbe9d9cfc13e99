// Image URLs: only plain https:// URLs of a host name and a path pass.
#include "release/https_url.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using release::parse_https_url;

text::ByteText view(const std::string& s) {
    return {s.data(), s.size()};
}
std::string str(text::ByteText t) {
    return std::string(t.data, t.length);
}

struct UrlCase {
    std::string url;
    bool ok;
    std::string host;
    std::string path;
};

std::vector<UrlCase> url_cases() {
    const std::string host_253 = std::string(249, 'a') + ".com";
    const std::string long_path = "/" + std::string(1023 - 8 - 9 - 1, 'p');  // 1023 bytes in all
    return {
        {"https://localhost/", true, "localhost", "/"},
        {"https://cdn.example.org/images/tundra-1.2.img", true, "cdn.example.org",
         "/images/tundra-1.2.img"},
        {"https://a/b?x=1&y=%20#", false, "", ""},
        {"https://a/b?x=1&y=%20", true, "a", "/b?x=1&y=%20"},
        {"https://Host-9.Example.COM/~a!$&'()*+,;=:@", true, "Host-9.Example.COM",
         "/~a!$&'()*+,;=:@"},
        {"https://localhost", false, "", ""},
        {"https://", false, "", ""},
        {"https:/", false, "", ""},
        {"https:///path", false, "", ""},
        {"https://" + host_253 + "/", true, host_253, "/"},
        {"https://" + host_253 + "b/", false, "", ""},
        {"https://localhost" + long_path, true, "localhost", long_path},
        {"https://localhost" + long_path + "x", false, "", ""},
        {"HTTPS://localhost/", false, "", ""},
        {"Https://localhost/", false, "", ""},
        {"http://localhost/", false, "", ""},
        {"https://localhost:443/", false, "", ""},
        {"https://user@localhost/", false, "", ""},
        {"https://user:pw@localhost/", false, "", ""},
        {"https://[::1]/", false, "", ""},
        {"https://local%68ost/", false, "", ""},
        {"https://local_host/", false, "", ""},
        {"https://localhost/a b", false, "", ""},
        {"https://localhost/a#b", false, "", ""},
        {"https://localhost/a\\b", false, "", ""},
        {"https://localhost/a\tb", false, "", ""},
        {"https://localhost/a\x7f", false, "", ""},
        {"https://localhost/caf\xc3\xa9", false, "", ""},
        {"https://caf\xc3\xa9.org/", false, "", ""},
        {std::string("https://localhost/a\0b", 21), false, "", ""},
    };
}

TEST(HttpsUrl, Table) {
    for (const UrlCase& c : url_cases()) {
        SCOPED_TRACE(c.url);
        const release::UrlParts parts = parse_https_url(view(c.url));
        ASSERT_EQ(parts.ok, c.ok);
        if (c.ok) {
            EXPECT_EQ(str(parts.host), c.host);
            EXPECT_EQ(str(parts.path), c.path);
            // Slices of the caller's text, not copies.
            EXPECT_EQ(parts.host.data, c.url.data() + 8);
            EXPECT_EQ(parts.path.data + parts.path.length, c.url.data() + c.url.size());
        } else {
            EXPECT_EQ(parts.host.data, nullptr);
            EXPECT_EQ(parts.path.data, nullptr);
            EXPECT_EQ(parts.host.length + parts.path.length, 0u);
        }
    }
}

TEST(HttpsUrl, LengthLimitsCountTheWholeUrl) {
    std::string url = "https://h/";
    url.resize(1023, 'x');
    EXPECT_TRUE(parse_https_url(view(url)).ok);
    url.push_back('x');
    EXPECT_FALSE(parse_https_url(view(url)).ok);
    EXPECT_FALSE(parse_https_url({nullptr, 0}).ok);
}

}  // namespace
