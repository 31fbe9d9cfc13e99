// Support for the self-update tests under Wine: a folder of its own for the
// "running" build, the seam answering GetModuleFileNameW with that build's
// path (so that nothing ever touches the test executable itself), and the
// update resources of the local download host, published for one test and
// put back after it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fixtures/sha256_hex.h"
#include "sys/sys.h"

namespace update_test {

using Bytes = std::vector<uint8_t>;

Bytes pattern(size_t size, uint8_t seed);
using fixtures::sha256_hex;

std::optional<Bytes> read_file(const std::filesystem::path& path);
bool write_file(const std::filesystem::path& path, const Bytes& bytes);

// A new folder in the temporary folder, removed with everything in it.
class Folder {
  public:
    Folder();
    ~Folder();
    std::filesystem::path operator/(const std::string& name) const { return root_ / name; }
    // The names in the folder, sorted.
    std::vector<std::string> names() const;

  private:
    std::filesystem::path root_;
};

// From now on GetModuleFileNameW(NULL, ...) gives `path`, as Windows does
// for a process started from it, through the seam in force.
void pretend_running_from(const std::filesystem::path& path);

// The host's update manifest, installer and page, saved at construction
// and put back at destruction; in between a test publishes its own.
class HostUpdate {
  public:
    HostUpdate();
    ~HostUpdate();
    bool saved() const { return saved_; }

    // A manifest signed with the test key for `release` and the bytes' size
    // and digest, and the bytes as the installer on the host.
    void publish(uint32_t release, const Bytes& exe);
    // A manifest that announces `announced` while the host serves `served`.
    void publish(uint32_t release, const Bytes& announced, const Bytes& served);
    // Only the manifest's signed text (lines ended by line feeds), signed
    // with the test key.
    void publish_manifest_text(const std::string& text);
    // The manifest's body as it stands, signature line included.
    void publish_manifest_body(const std::string& body);
    void remove_manifest();

  private:
    bool saved_ = false;
    Bytes manifest_, exe_, page_;
};

// The update check's requests in the host's access log.
size_t manifest_requests();
size_t exe_requests();

}  // namespace update_test
