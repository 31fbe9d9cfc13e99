// Support for the fetch tests, which run under Wine against the local
// download host (tests/release/download_host/start).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "release/https_fetch.h"

namespace fetch_test {

// The host's work folder as Wine sees it, from the build.
std::string host_file(const std::string& relative);
std::vector<uint8_t> read_host_file(const std::string& relative);

// This process's own mark: its id and the moment it first asked. Wine hands
// the same ids out again, and what an earlier process of the same id left
// (lines in the access log, files) must not be taken for this one's.
const std::string& process_mark();
// The request URI with this process's mark and a count added to its query,
// so that the access log's line for it can only be this request's.
std::string own_request(const std::string& request_uri);
std::wstring wide(const std::string& ascii);

// True once a line of the host's access log starts with the request URI,
// waiting for nginx to write it (bounded).
bool access_log_shows(const std::string& request_uri);
// Whether the log holds such a line now, after a later marker request has
// been logged (so that anything before it is in the log too).
bool access_log_shows_before_marker(const std::string& request_uri);
// How many lines start with the request URI, counted after such a marker.
size_t access_log_count(const std::string& request_uri);

// Counts the WinHTTP handles opened and closed through the seam, and records
// the timeouts and options set, while it lives. Installs itself over
// whatever table is in force (for example a simulated machine's).
class WinHttpRecorder {
  public:
    WinHttpRecorder();
    ~WinHttpRecorder();

    int open_handles() const;
    unsigned calls(const char* name) const;
    struct Timeouts {
        HINTERNET handle;
        int values[4];
    };
    struct Option {
        HINTERNET handle;
        DWORD option;
        DWORD value;
    };
    std::vector<Timeouts> timeouts() const;
    std::vector<Option> options() const;
    std::vector<std::wstring> agents() const;
};

// A TCP listener that never accepts and never answers: a server that
// stalls before the TLS handshake. Listens on address:443.
class SilentServer {
  public:
    explicit SilentServer(const char* address);
    ~SilentServer();
    bool listening() const { return socket_ != ~uintptr_t{0}; }

  private:
    uintptr_t socket_;
};

// The update check's connection to the local host, closed at the end.
struct LocalUpdateConnection {
    release::UpdateConnection connection = release::open_update_connection(L"localhost");
    ~LocalUpdateConnection() { release::close_update_connection(connection); }
};

// Fetches path from the local host with the update check's profile.
release::FetchResult get(const wchar_t* path, uint8_t* buffer, uint64_t capacity,
                         ULONGLONG deadline_in_ms = 30000);

text::ByteText view(const char* s);

}  // namespace fetch_test
