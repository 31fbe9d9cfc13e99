// The seam: a test can replace one call and put it back.
#include "sys/sys.h"

#include <gtest/gtest.h>

namespace {

UINT WINAPI fake_windows_directory(LPWSTR buffer, UINT) {
    buffer[0] = U16('Q');
    return 42;
}

TEST(Seam, ReplacingOneEntryChangesOnlyThatCall) {
    sys::calls.GetWindowsDirectoryW = fake_windows_directory;
    WCHAR buffer[4] = {};
    EXPECT_EQ(sys::GetWindowsDirectoryW(buffer, 4), 42u);
    EXPECT_EQ(buffer[0], U16('Q'));
    EXPECT_EQ(sys::calls.CreateFileW, sys::default_calls().CreateFileW);
    sys::restore_default_calls();
    EXPECT_EQ(sys::calls.GetWindowsDirectoryW, sys::default_calls().GetWindowsDirectoryW);
}

TEST(Seam, LastErrorRoundTrips) {
    sys::SetLastError(ERROR_INVALID_PARAMETER);
    EXPECT_EQ(sys::GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
