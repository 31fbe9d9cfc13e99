// Joining the logs folder and a file name, and making a folder with the
// folders above it, against a CreateDirectoryW that records and answers as
// each case says.
#include "engine/logs/log_paths.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fixtures/sim_disk.h"

namespace {

using Wide = std::basic_string<WCHAR>;

Wide wide(const std::string& text) {
    return Wide(text.begin(), text.end());
}
engine::WideText text_of(const Wide& text) {
    return {text.c_str(), text.size()};
}

std::vector<Wide> folders_made;
std::map<Wide, DWORD> answers;  // folder -> error; absent: made
std::vector<Wide> existing;     // folders that are there, as a handle on them says

const HANDLE EXISTING_FOLDER = reinterpret_cast<HANDLE>(uintptr_t{0x7770});

HANDLE WINAPI existing_folder_open(LPCWSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                   HANDLE) {
    for (const Wide& folder : existing) {
        if (folder == path)
            return EXISTING_FOLDER;
    }
    sys::SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI existing_folder_information(HANDLE h, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info,
                                        DWORD) {
    if (h != EXISTING_FOLDER || kind != FileAttributeTagInfo)
        return FALSE;
    const FILE_ATTRIBUTE_TAG_INFO folder{FILE_ATTRIBUTE_DIRECTORY, 0};
    memcpy(info, &folder, sizeof folder);
    return TRUE;
}

BOOL WINAPI existing_folder_close(HANDLE h) {
    return h == EXISTING_FOLDER;
}

BOOL WINAPI recording_create_directory(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
    folders_made.emplace_back(path);
    const auto answer = answers.find(path);
    if (answer == answers.end()) {
        existing.emplace_back(path);
        return TRUE;
    }
    sys::SetLastError(answer->second);
    return FALSE;
}

TEST(LogPaths, JoinAddsOneSeparatorAndFitsTheBuffer) {
    const struct {
        std::string folder;
        std::string name;
        std::string joined;  // empty: too long
    } cases[] = {
        {"C:\\logs", "LOG.TXT", "C:\\logs\\LOG.TXT"},
        {"C:\\logs\\", "LOG.TXT", "C:\\logs\\LOG.TXT"},
        {"C:/logs/", "LOG.TXT", "C:/logs/LOG.TXT"},
        {"", "LOG.TXT", "LOG.TXT"},
        {std::string(1010, 'a'), "CRASHLOG.BIN", std::string(1010, 'a') + "\\CRASHLOG.BIN"},
        {std::string(1011, 'a'), "CRASHLOG.BIN", ""},
    };
    for (const auto& c : cases) {
        const Wide folder = wide(c.folder);
        engine::WideText joined;
        const engine::Result result = engine::path_join(
            text_of(folder), c.name.data(), static_cast<uint32_t>(c.name.size()), joined);
        if (c.joined.empty()) {
            EXPECT_EQ(result, engine::Result::Failed) << c.folder.size();
            EXPECT_EQ(fixtures::failure_text(), "a path is too long");
            continue;
        }
        ASSERT_EQ(result, engine::Result::Success) << c.folder.size();
        EXPECT_EQ(Wide(joined.data, joined.length), wide(c.joined));
        EXPECT_EQ(joined.data[joined.length], 0) << "NUL-terminated";
    }
}

TEST(LogPaths, MakeFolderMakesEachLevel) {
    const struct {
        std::string path;
        std::map<std::string, DWORD> answers;
        std::vector<std::string> tried;
        std::string reason;  // empty: made
        std::vector<std::string> existing = {};
    } cases[] = {
        // Drive roots, shares and "\\?\" paths: their roots are never made,
        // and a root, or any folder that is there, is fine whatever Windows
        // answers when asked to make it.
        {"E:\\", {{"E:\\", ERROR_ACCESS_DENIED}}, {"E:\\"}, "", {"E:\\"}},
        {"E:\\logs", {}, {"E:\\logs"}, ""},
        {"\\\\server\\share\\logs", {}, {"\\\\server\\share\\logs"}, ""},
        {"\\\\server\\share",
         {{"\\\\server\\share", ERROR_INVALID_NAME}},
         {},
         "",
         {"\\\\server\\share"}},
        {"\\\\?\\C:\\logs\\new", {}, {"\\\\?\\C:\\logs", "\\\\?\\C:\\logs\\new"}, ""},
        {"\\\\?\\UNC\\server\\share\\logs", {}, {"\\\\?\\UNC\\server\\share\\logs"}, ""},
        {"\\\\?\\Volume{1}\\logs", {}, {"\\\\?\\Volume{1}\\logs"}, ""},
        {"C:\\stick-logs",
         {{"C:\\stick-logs", ERROR_ACCESS_DENIED}},
         {"C:\\stick-logs"},
         "",
         {"C:\\stick-logs"}},
        {"C:\\stick-logs",
         {{"C:\\stick-logs", ERROR_WRITE_PROTECT}},
         {"C:\\stick-logs"},
         "",
         {"C:\\stick-logs"}},
        {"C:\\logs\\new", {}, {"C:\\logs", "C:\\logs\\new"}, ""},
        {"C:\\logs\\new\\",
         {{"C:\\logs\\new\\", ERROR_ALREADY_EXISTS}},
         {"C:\\logs", "C:\\logs\\new", "C:\\logs\\new\\"},
         "",
         {"C:\\logs\\new\\"}},
        {"logs", {{"logs", ERROR_ALREADY_EXISTS}}, {"logs"}, "", {"logs"}},
        {"/home/u/logs",
         {{"/home", ERROR_ACCESS_DENIED}, {"/home/u", ERROR_ALREADY_EXISTS}},
         {"/home", "/home/u", "/home/u/logs"},
         "",
         {"/home", "/home/u"}},
        // A level that can be neither made nor looked at might be a link:
        // nothing is made below it.
        {"C:\\hidden\\logs",
         {{"C:\\hidden", ERROR_ACCESS_DENIED}},
         {"C:\\hidden"},
         "cannot make the folder C:\\hidden\\logs (Windows error 5)"},
        {"C:\\taken\\logs",
         {{"C:\\taken", ERROR_ALREADY_EXISTS}},
         {"C:\\taken"},
         "cannot make the folder C:\\taken\\logs (Windows error 2)"},
        {"C:\\locked\\logs",
         {{"C:\\locked\\logs", ERROR_ACCESS_DENIED}},
         {"C:\\locked", "C:\\locked\\logs"},
         "cannot make the folder C:\\locked\\logs (Windows error 5)"},
        {"D:\\gone\\logs",
         {{"D:\\gone", ERROR_PATH_NOT_FOUND}},
         {"D:\\gone"},
         "cannot make the folder D:\\gone\\logs (Windows error 3)"},
        {"", {}, {}, ""},
        {std::string(1024, 'a'), {}, {}, "a path is too long"},
    };
    sim::Machine machine;  // restores the call table at the end
    sys::calls.CreateDirectoryW = recording_create_directory;
    sys::calls.CreateFileW = existing_folder_open;
    sys::calls.GetFileInformationByHandleEx = existing_folder_information;
    sys::calls.CloseHandle = existing_folder_close;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.substr(0, 40));
        folders_made.clear();
        answers.clear();
        existing.clear();
        for (const std::string& folder : c.existing)
            existing.push_back(wide(folder));
        for (const auto& [folder, error] : c.answers)
            answers[wide(folder)] = error;
        const Wide path = wide(c.path);
        const engine::Result result = engine::make_folder(text_of(path));
        std::vector<Wide> tried;
        for (const std::string& folder : c.tried)
            tried.push_back(wide(folder));
        EXPECT_EQ(folders_made, tried);
        if (c.reason.empty()) {
            EXPECT_EQ(result, engine::Result::Success) << fixtures::failure_text();
        } else {
            EXPECT_EQ(result, engine::Result::Failed);
            EXPECT_EQ(fixtures::failure_text(), c.reason);
        }
    }
}

}  // namespace
