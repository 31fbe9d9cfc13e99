#include "install_page.h"

#include "tool_files.h"

namespace tool {

namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string installer_section(const CheckedUpdate* update) {
    std::string out = "<h2>The current installer</h2>\n";
    if (update == nullptr)
        return out + "<p>No installer has been published here yet.</p>\n";
    const release::UpdateManifest& m = update->manifest;
    return out +
           "<p><a href=\"/install/tundra-usb-installer-x64.exe\">tundra-usb-installer-x64.exe</a>"
           " for 64-bit Windows: release " +
           std::to_string(m.release) + ", " + std::to_string(m.exe_size) +
           " bytes, SHA-256 <code>" + to_hex(m.exe_sha256, 32) +
           "</code>.</p>\n"
           "<p>An installer that says \"This copy could not be replaced\" found this newer build "
           "but could not put it in its own place, for example because its folder may not be "
           "written to. Download this one and run it instead of the old copy.</p>\n";
}

std::string release_section(const CheckedRelease* release) {
    std::string out = "<h2>The current Tundra release</h2>\n";
    if (release == nullptr)
        return out + "<p>No release has been published here yet.</p>\n";
    const release::ReleaseManifest& m = release->manifest;
    const std::string url = escaped(str(m.image_url));
    return out + "<p>Tundra " + escaped(str(m.version)) + ": <a href=\"" + url + "\">" + url +
           "</a>, " + std::to_string(m.image_size) + " bytes, SHA-256 <code>" +
           to_hex(m.image_sha256, 32) +
           "</code>. The installer downloads and verifies it by itself.</p>\n";
}

}  // namespace

std::string install_page(const CheckedRelease* release, const CheckedUpdate* update) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<title>Tundra USB Installer</title>\n</head>\n<body>\n"
           "<h1>Tundra USB Installer</h1>\n"
           "<p>The Tundra USB Installer is a Windows program that makes a bootable USB stick of "
           "the Tundra operating system: it downloads the latest signed Tundra release, writes "
           "it to the stick you choose, and reads the stick back to prove that it holds the "
           "release. It keeps itself up to date when it starts.</p>\n" +
           installer_section(update) + release_section(release) +
           "<p>What the installers read: the signed <a href=\"/install/releases/tundra.txt\">"
           "release manifest</a> and <a href=\"/install/updates/x64.txt\">update "
           "manifest</a>.</p>\n</body>\n</html>\n";
}

}  // namespace tool
