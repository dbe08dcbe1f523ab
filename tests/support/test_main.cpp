// Every test process gets a data directory of its own before the library
// reads its module directory.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

int main(int argc, char** argv) {
    std::string pattern = "/tmp/doorlink-test-XXXXXX";
    if (char* dir = mkdtemp(pattern.data())) setenv("DOORLINK_HOME", dir, 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
