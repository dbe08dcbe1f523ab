#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <sstream>

#include "cli/runtime.h"
#include "model/errors.h"

namespace doorlinkd {
namespace {

std::string fresh_directory() {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("doorlinkd-lock-" + std::to_string(::getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    return prepare_data_dir(dir.string(), std::cerr);
}

// The kernel lock goes with its holder: a second holder is refused with a
// message naming the first, and once the first is gone the lock is free
// again although the file stays.
TEST(DataDirLock, RefusesASecondHolderNamingTheFirstAndIsFreeOnceItEnds) {
    const std::string dir = fresh_directory();
    {
        DataDirLock first(dir, "archive");
        try {
            DataDirLock second(dir, "sync");
            FAIL() << "a second lock was granted";
        } catch (const Busy& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("doorlinkd archive"), std::string::npos) << message;
            EXPECT_NE(message.find("process " + std::to_string(::getpid())), std::string::npos) << message;
        }
    }
    EXPECT_TRUE(std::filesystem::exists(dir + "/doorlinkd.lock"));
    EXPECT_NO_THROW(DataDirLock again(dir, "sync"));
    std::filesystem::remove_all(dir);
}

// The data directory is its user's alone, whatever the umask: made 0700,
// and one open to others is made so, which is said.
TEST(DataDirMode, IsTheUsersAloneAndOneOpenToOthersIsClosed) {
    const std::string dir =
        std::filesystem::temp_directory_path() / ("doorlinkd-mode-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    const mode_t umaskBefore = ::umask(022);
    const auto mode = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0u;
    };
    std::ostringstream notes;
    prepare_data_dir(dir + "/data", notes);
    EXPECT_EQ(mode(dir + "/data"), 0700u);
    EXPECT_EQ(notes.str(), "");

    ASSERT_EQ(mode(dir), 0755u);  // made by the same call, as the umask says
    prepare_data_dir(dir, notes);
    EXPECT_EQ(mode(dir), 0700u);
    EXPECT_EQ(notes.str(),
              "doorlinkd: the data directory " + dir + " was open to others (mode 0755); it is now 0700\n");
    ::umask(umaskBefore);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace doorlinkd
