#include "app/self_update/update_test_support.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "release/fetch_test_support.h"
#include "test_signing.h"

namespace update_test {

namespace {

const std::string MANIFEST_AT = "site/install/updates/x64.txt";
const std::string EXE_AT = "site/install/tundra-usb-installer-x64.exe";
const std::string PAGE_AT = "site/install/index.html";

// Kept as text ready to copy: the answer itself must not allocate, since
// the allocation test counts everything the process does.
std::wstring module_path;
decltype(sys::calls.GetModuleFileNameW) module_file_name_below = nullptr;

DWORD WINAPI pretended_module_file_name(HMODULE module, LPWSTR path, DWORD capacity) {
    if (module != nullptr)
        return module_file_name_below(module, path, capacity);
    if (module_path.size() >= capacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return capacity;
    }
    std::copy(module_path.begin(), module_path.end(), path);
    path[module_path.size()] = 0;
    return static_cast<DWORD>(module_path.size());
}

bool put_host_file(const std::string& relative, const Bytes& bytes) {
    return write_file(fetch_test::host_file(relative), bytes);
}

}  // namespace

Bytes pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 167 + seed + (i >> 8));
    return bytes;
}

std::optional<Bytes> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool write_file(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

Folder::Folder() {
    static int made = 0;
    root_ = std::filesystem::temp_directory_path() /
            ("tundra-update-test-" + fetch_test::process_mark() + "-" + std::to_string(++made));
    std::filesystem::create_directories(root_);
}

Folder::~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::vector<std::string> Folder::names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(root_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void pretend_running_from(const std::filesystem::path& path) {
    module_path = path.wstring();
    if (sys::calls.GetModuleFileNameW != pretended_module_file_name) {
        module_file_name_below = sys::calls.GetModuleFileNameW;
        sys::calls.GetModuleFileNameW = pretended_module_file_name;
    }
}

HostUpdate::HostUpdate() {
    const auto manifest = read_file(fetch_test::host_file(MANIFEST_AT));
    const auto exe = read_file(fetch_test::host_file(EXE_AT));
    const auto page = read_file(fetch_test::host_file(PAGE_AT));
    saved_ = manifest && exe && page;
    if (saved_) {
        manifest_ = *manifest;
        exe_ = *exe;
        page_ = *page;
    }
}

HostUpdate::~HostUpdate() {
    if (!saved_)
        return;
    EXPECT_TRUE(put_host_file(MANIFEST_AT, manifest_)) << "the update manifest was not put back";
    EXPECT_TRUE(put_host_file(EXE_AT, exe_)) << "the update executable was not put back";
    EXPECT_TRUE(put_host_file(PAGE_AT, page_)) << "the /install page was not put back";
}

void HostUpdate::publish(uint32_t release, const Bytes& exe) {
    publish(release, exe, exe);
}

void HostUpdate::publish(uint32_t release, const Bytes& announced, const Bytes& served) {
    ASSERT_TRUE(put_host_file(EXE_AT, served));
    publish_manifest_text("RX4-TUNDRA-INSTALLER-UPDATE-1\nx64\n" + std::to_string(release) + "\n" +
                          std::to_string(announced.size()) + "\n" + sha256_hex(announced) + "\n");
}

void HostUpdate::publish_manifest_text(const std::string& text) {
    publish_manifest_body(test_signing::sign(text));
}

void HostUpdate::publish_manifest_body(const std::string& body) {
    ASSERT_TRUE(put_host_file(MANIFEST_AT, Bytes(body.begin(), body.end())));
}

void HostUpdate::remove_manifest() {
    std::filesystem::remove(fetch_test::host_file(MANIFEST_AT));
}

size_t manifest_requests() {
    return fetch_test::access_log_count("/install/updates/x64.txt");
}

size_t exe_requests() {
    return fetch_test::access_log_count("/install/tundra-usb-installer-x64.exe");
}

}  // namespace update_test
