// Every test process gets a data directory of its own before the library
// reads its module directory, and removes it at the end unless it failed
// (or DOORLINK_KEEP_TEST_DATA is set), so that what a failed test left can
// be looked at.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    std::string pattern = "/tmp/doorlink-test-XXXXXX";
    const char* dir = mkdtemp(pattern.data());
    if (dir) setenv("DOORLINK_HOME", dir, 1);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    if (dir && result == 0 && !getenv("DOORLINK_KEEP_TEST_DATA")) {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    } else if (dir) {
        std::fprintf(stderr, "test data kept in %s\n", dir);
    }
    return result;
}
