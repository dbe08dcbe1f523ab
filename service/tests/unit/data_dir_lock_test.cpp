#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "cli/runtime.h"
#include "model/errors.h"

namespace doorlinkd {
namespace {

std::string fresh_directory() {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("doorlinkd-lock-" + std::to_string(::getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    return prepare_data_dir(dir.string());
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

}  // namespace
}  // namespace doorlinkd
