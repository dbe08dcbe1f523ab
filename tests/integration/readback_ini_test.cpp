// NameToini against the INI files it wrote when it still built them in memory
// (tests/golden/readback_ini): the same bytes for every sample, an old INI
// replaced rather than written into, and no INI at all after a write that
// fails.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <fstream>
#include <string>
#include <vector>

#include "doorlink/doorlink.h"
#include "support/data_files.h"
#include "support/readback_samples.h"
#include "support/temp_dir.h"

namespace doorlink {
namespace {

using testing::ReadBackSample;

TEST(ReadBackIniGolden, EverySampleGivesTheBytesOfBefore) {
    testing::TempDir dir;
    std::ofstream(dir.file("ReCard001.ini")) << "[Old]\nKey=1\n[CardNo]\nCardNo1=x\nCardNo9=y\n";
    for (const ReadBackSample& sample : testing::readback_samples()) {
        SCOPED_TRACE(sample.name);
        ASSERT_EQ(NameToini(testing::write_sample(dir.path(), sample).c_str(), sample.number), 1u);
        const std::vector<uint8_t> ini = testing::read_bytes(dir.file(testing::ini_name(sample)));
        if (sample.posixSize != 0) {
            EXPECT_EQ(ini.size(), sample.posixSize);
            EXPECT_EQ(testing::fnv1a(ini), sample.posixHash);
        } else {
            const std::string golden = testing::read_text(std::string(DOORLINK_GOLDEN_DIR) +
                                                          "/readback_ini/" + sample.name + ".posix.ini");
            ASSERT_FALSE(golden.empty());
            EXPECT_EQ(std::string(ini.begin(), ini.end()), golden);
        }
    }
}

// The largest sample, with files limited to a fifth of its INI.
TEST(ReadBackIniGolden, AWriteThatFailsLeavesNoIni) {
    testing::TempDir dir;
    const ReadBackSample sample = testing::readback_samples().back();
    const std::string path = testing::write_sample(dir.path(), sample);
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const rlimit limited{sample.posixSize / 5, before.rlim_max};
    auto* const handler = ::signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit fails instead
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const uint32_t result = NameToini(path.c_str(), sample.number);
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, handler);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(testing::files_in(dir.path()), std::vector<std::string>{testing::readback_name(sample)});
}

}  // namespace
}  // namespace doorlink
