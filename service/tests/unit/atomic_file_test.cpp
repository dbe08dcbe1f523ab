// Files written whole: never through a link planted beside them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "common/atomic_file.h"

namespace doorlinkd {
namespace {

namespace fs = std::filesystem;

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Links planted where a temporary file might be made, at the name one used
// to have (FILE.tmp<pid>) and at other guessable names, are neither
// followed nor overwritten: what they point to stays as it was, and the file
// lands where it was asked for, whole, with the mode asked for.
TEST(AtomicFile, APlantedLinkIsNeverFollowed) {
    std::string pattern = (fs::temp_directory_path() / "doorlinkd-atomic-XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(pattern.data()));
    const fs::path dir = pattern;
    const fs::path victim = dir / "victim";
    std::ofstream(victim) << "untouched";
    const fs::path target = dir / "cards.csv";
    const std::string planted[] = {target.string() + ".tmp" + std::to_string(::getpid()),
                                   target.string() + ".tmp", target.string() + ".tmpXXXXXX"};
    for (const std::string& link : planted) fs::create_symlink(victim, link);
    const fs::path dangling = dir / "dangling.csv";
    const fs::path nowhere = dir / "made-through-a-link";
    const fs::path danglingLink = dangling.string() + ".tmp" + std::to_string(::getpid());
    fs::create_symlink(nowhere, danglingLink);

    write_file_atomically(target.string(), "new", 3, 0600);
    write_file_atomically(dangling.string(), "new", 3, 0640);

    EXPECT_EQ(read_text(victim), "untouched");
    EXPECT_FALSE(fs::exists(nowhere));
    for (const std::string& link : planted) EXPECT_TRUE(fs::is_symlink(link)) << link;
    for (const auto& [file, mode] : {std::pair{target, 0600u}, std::pair{dangling, 0640u}}) {
        struct stat info {};
        ASSERT_EQ(::lstat(file.c_str(), &info), 0) << file;
        EXPECT_TRUE(S_ISREG(info.st_mode)) << file;
        EXPECT_EQ(info.st_mode & 07777, mode) << file;
        EXPECT_EQ(read_text(file), "new") << file;
    }
    // No temporary file is left behind.
    std::set<fs::path> found;
    for (const auto& entry : fs::directory_iterator(dir)) found.insert(entry.path());
    std::set<fs::path> expected = {victim, target, dangling, danglingLink};
    expected.insert(std::begin(planted), std::end(planted));
    EXPECT_EQ(found, expected);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace doorlinkd
