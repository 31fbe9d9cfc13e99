#include "exe_release.h"

#include <set>

#include "release/installer_release.h"
#include "release/manifest.h"
#include "tool_files.h"

namespace tool {

namespace {

// The agent's words as UTF-16 little-endian bytes.
std::vector<uint8_t> agent_prefix_utf16() {
    std::vector<uint8_t> bytes;
    for (const char* c = release::RELEASE_AGENT_PREFIX; *c != 0; ++c) {
        bytes.push_back(static_cast<uint8_t>(*c));
        bytes.push_back(0);
    }
    return bytes;
}

bool digit_at(const std::vector<uint8_t>& exe, size_t at) {
    return at + 1 < exe.size() && exe[at] >= '0' && exe[at] <= '9' && exe[at + 1] == 0;
}

}  // namespace

bool installer_release_of(const std::vector<uint8_t>& exe, const std::string& name,
                          uint32_t& release, std::string& error) {
    const std::vector<uint8_t> prefix = agent_prefix_utf16();
    std::set<uint64_t> found;
    for (size_t at = 0; at + prefix.size() <= exe.size(); ++at) {
        if (!std::equal(prefix.begin(), prefix.end(), exe.begin() + at))
            continue;
        uint64_t number = 0;
        size_t digits = 0;
        for (size_t d = at + prefix.size(); digit_at(exe, d) && digits < 10; d += 2, ++digits)
            number = number * 10 + (exe[d] - '0');
        if (digits > 0)
            found.insert(number);
    }
    if (found.empty()) {
        error = name + " carries no \"" + release::RELEASE_AGENT_PREFIX +
                "N\" text: it is not a build of the installer";
        return false;
    }
    if (found.size() > 1 || *found.begin() > UINT32_MAX) {
        error = name + " carries more than one release number in its \"" +
                release::RELEASE_AGENT_PREFIX + "N\" texts";
        return false;
    }
    release = static_cast<uint32_t>(*found.begin());
    return true;
}

bool check_exe_is_release(const std::string& path, uint32_t announced, std::string& error) {
    std::vector<uint8_t> exe;
    if (!read_small_file(path, release::MAX_EXE_BYTES, exe, error))
        return false;
    uint32_t carried = 0;
    if (!installer_release_of(exe, path, carried, error))
        return false;
    const std::string is =
        path + " is release " + std::to_string(carried) + ", not " + std::to_string(announced);
    if (carried < announced) {
        error = is + ": every installer would take it for release " + std::to_string(announced) +
                ", start it, and the new copy would find that release announced above its own "
                "and update itself again, without end";
        return false;
    }
    if (carried > announced) {
        error = is + ": installers of release " + std::to_string(announced) +
                " and above would never take it";
        return false;
    }
    return true;
}

}  // namespace tool
