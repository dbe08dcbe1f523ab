// Every process of these tests works in a data directory of its own. The
// library takes its module directory from DOORLINK_HOME once, as it loads,
// before main: so main makes the directory, names it in the environment and
// runs this program again in place. The directory is removed at the end
// unless a test failed (or DOORLINK_KEEP_TEST_DATA is set).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

// Set to the data directory once the program runs again in it.
constexpr const char* kOwnDataDir = "DOORLINKD_TEST_DATA_DIR";

bool in_own_data_dir() {
    const char* own = std::getenv(kOwnDataDir);
    const char* home = std::getenv("DOORLINK_HOME");
    return own && home && std::strcmp(own, home) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (!in_own_data_dir()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "doorlinkd-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            return 1;
        }
        ::setenv("DOORLINK_HOME", pattern.c_str(), 1);
        ::setenv(kOwnDataDir, pattern.c_str(), 1);
        ::execv("/proc/self/exe", argv);
        std::perror("execv");
        return 1;
    }
    const std::string dir = std::getenv("DOORLINK_HOME");
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    if (result == 0 && !std::getenv("DOORLINK_KEEP_TEST_DATA")) {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    } else {
        std::fprintf(stderr, "test data kept in %s\n", dir.c_str());
    }
    return result;
}
