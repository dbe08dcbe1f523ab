// The profile functions of the POSIX backend: files on disk, the cache, and
// many writers at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/profile.h"
#include "support/temp_dir.h"

#ifdef __SANITIZE_ADDRESS__
// The sanitizer's count of the bytes allocated and not yet freed.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace doorlink::platform {
namespace {

using testing::TempDir;

std::string read_string(const std::string& path, const char* section, const char* key,
                        const char* def = nullptr, uint32_t size = 200) {
    std::vector<char> buffer(size + 1, 'Z');
    profile_read_string(section, key, def, buffer.data(), size, path.c_str());
    return buffer.data();
}

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

size_t files_in(const std::string& directory) {
    size_t files = 0;
    for (auto& entry : std::filesystem::directory_iterator(directory)) {
        (void)entry;
        ++files;
    }
    return files;
}

TEST(ProfileStore, MissingFileReadsDefaultsAndFirstWriteCreatesIt) {
    TempDir dir;
    std::string path = dir.file("eqminfo.ini");
    EXPECT_EQ(read_string(path, "EqmIP", "EqmIP1"), "");
    EXPECT_EQ(read_string(path, "EqmIP", "EqmIP1", "none  "), "none");
    EXPECT_EQ(profile_read_int("EqmTotal", "EqmTotal", 7, path.c_str()), 7);
    ASSERT_TRUE(profile_write_string("EqmTotal", "EqmTotal", "1", path.c_str()));
    EXPECT_EQ(file_text(path), "[EqmTotal]\nEqmTotal=1\n");
    EXPECT_EQ(profile_read_int("eqmtotal", "EQMTOTAL", 7, path.c_str()), 1);
}

TEST(ProfileStore, ReadsCrLfFilesTrimsAndCutsToTheBuffer) {
    TempDir dir;
    std::string path = dir.file("source.ini");
    write_text(path, "[CardNo]\r\nCardNo1 = 00112345 \r\nCardNo2=\"quoted value\"\r\n[X]\r\nn=\r\n");
    EXPECT_EQ(read_string(path, "cardno", "cardno1"), "00112345");
    EXPECT_EQ(read_string(path, "CardNo", "CardNo2"), "quoted value");
    EXPECT_EQ(read_string(path, "CardNo", "CardNo1", nullptr, 5), "0011");
    char one[1] = {'x'};
    EXPECT_EQ(profile_read_string("CardNo", "CardNo1", nullptr, one, 1, path.c_str()), 0u);
    EXPECT_EQ(one[0], '\0');
    // An empty value reads as empty text, but as the default for an integer.
    EXPECT_EQ(read_string(path, "X", "n", "d"), "");
    EXPECT_EQ(profile_read_int("X", "n", 5, path.c_str()), 5);
}

TEST(ProfileStore, WriteReplacesInPlaceAndKeepsTheRest) {
    TempDir dir;
    std::string path = dir.file("r.ini");
    write_text(path, "[EqmNO]\r\nEqmNO3=4\r\n; kept\r\n[EqmIP]\r\nEqmIP3=1.2.3.4\r\n");
    ASSERT_TRUE(profile_write_string("EqmNO", "EqmNo3", "9", path.c_str()));
    EXPECT_EQ(file_text(path), "[EqmNO]\r\nEqmNO3=9\r\n; kept\r\n[EqmIP]\r\nEqmIP3=1.2.3.4\r\n");
    EXPECT_EQ(read_string(path, "EqmNO", "EqmNo3"), "9");
}

TEST(ProfileStore, NoticesChangesMadeByOthersToAFileItHasCached) {
    TempDir dir;
    std::string path = dir.file("r.ini");
    write_text(path, "[A]\nk=1\n");
    EXPECT_EQ(read_string(path, "A", "k"), "1");
    write_text(path, "[A]\nk=22\n");  // another size
    EXPECT_EQ(read_string(path, "A", "k"), "22");
    std::string moved = dir.file("other.ini");
    write_text(moved, "[A]\nk=33\n");
    ASSERT_EQ(std::rename(moved.c_str(), path.c_str()), 0);  // same size, new file
    EXPECT_EQ(read_string(path, "A", "k"), "33");
    std::remove(path.c_str());
    EXPECT_EQ(read_string(path, "A", "k"), "");
}

// A snapshot reads what a plain read of the file read when it was taken.
TEST(ProfileStore, ASnapshotReadsAsThePlainReadsOfItsMoment) {
    TempDir dir;
    std::string path = dir.file("cards.ini");
    write_text(path,
               "[CardNo]\r\n  cardno1 =  \"00112345\"  \r\nCardNo2='x'\r\nCardNo3=\r\nCardNo4=\"\r\n"
               "CARDNO1=duplicate\r\nLong=" +
                   std::string(250, 'L') + "\r\n[cardno]\r\nCardNo5=again\r\n");
    const ProfileSnapshot snapshot(path.c_str());
    struct Read {
        const char* section;
        const char* key;
        const char* def;
        uint32_t size;
    };
    const Read reads[] = {
        {"CARDNO", "CardNo1", "d", 200}, {"CardNo", "cardno2", "d", 200},   {"CardNo", "CardNo3", "d", 200},
        {"CardNo", "CardNo4", "d", 200}, {"CardNo", "CardNo5", " d ", 200}, {"CardNo", "Long", "d", 200},
        {"CardNo", "CardNo1", "d", 4},   {"Missing", "k", nullptr, 200},    {"CardNo", nullptr, "d", 200}};
    auto read = [](auto&& call, const Read& r) {
        std::vector<char> buffer(r.size + 1, 'Z');
        const uint32_t n = call(r.section, r.key, r.def, buffer.data(), r.size);
        return std::to_string(n) + ":" + buffer.data();
    };
    auto plain = [&](const char* section, const char* key, const char* def, char* buffer, uint32_t size) {
        return profile_read_string(section, key, def, buffer, size, path.c_str());
    };
    auto snapped = [&](const char* section, const char* key, const char* def, char* buffer, uint32_t size) {
        return snapshot.read_string(section, key, def, buffer, size);
    };
    for (const Read& r : reads) EXPECT_EQ(read(snapped, r), read(plain, r)) << r.section << "/" << r.key;
    EXPECT_EQ(read(snapped, reads[5]), "199:" + std::string(199, 'L'));
    // A later change of the file is not seen.
    write_text(path, "[CardNo]\nCardNo1=changed\n");
    EXPECT_EQ(read(plain, reads[0]), "7:changed");
    EXPECT_EQ(read(snapped, reads[0]), "8:00112345");
    EXPECT_EQ(read([](auto... a) { return ProfileSnapshot(nullptr).read_string(a...); }, reads[0]), "1:d");
}

TEST(ProfileStore, AWriteThroughASymbolicLinkKeepsTheLink) {
    TempDir dir;
    std::string real = dir.file("real.ini");
    std::string link = dir.file("eqminfo.ini");
    write_text(real, "[A]\nk=1\n");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    ASSERT_TRUE(profile_write_string("A", "k", "2", link.c_str()));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(file_text(real), "[A]\nk=2\n");
    EXPECT_EQ(read_string(link, "A", "k"), "2");
}

TEST(ProfileStore, WriteIntoAMissingDirectoryFails) {
    TempDir dir;
    std::string path = dir.file("no/such/dir.ini");
    EXPECT_FALSE(profile_write_string("A", "k", "v", path.c_str()));
}

// A file this process may not read (it may still replace it in the
// directory) keeps its keys: a write fails instead of leaving a file with
// only the new key.
TEST(ProfileStore, AFileThatCannotBeReadIsNotWrittenOver) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    const std::string path = dir.file("locked.ini");
    const std::string text = "[A]\nx=1\n";
    write_text(path, text);
    ASSERT_EQ(::chmod(path.c_str(), 0200), 0);
    // root reads anything; as another user for the file system it may not.
    const bool root = ::geteuid() == 0;
    const int previous = root ? ::setfsuid(65534) : 0;
    const bool single = profile_write_string("B", "y", "2", path.c_str());
    const ProfileWrite batch[] = {{"C", "z", "3"}};
    const bool several = profile_write_strings(batch, 1, path.c_str());
    const int32_t value = profile_read_int("A", "x", -7, path.c_str());
    if (root) ::setfsuid(static_cast<uid_t>(previous));
    EXPECT_FALSE(single);
    EXPECT_FALSE(several);
    EXPECT_EQ(value, -7);
    EXPECT_EQ(file_text(path), text);
}

TEST(ProfileStore, APipeForAFileReadsAsEmptyWithoutWaiting) {
    TempDir dir;
    const std::string path = dir.file("pipe.ini");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(read_string(path, "A", "k", "none"), "none");
    EXPECT_EQ(profile_read_int("A", "k", 5, path.c_str()), 5);
}

TEST(ProfileStore, ManyThreadsWritingAtOnceLoseNoUpdate) {
    TempDir dir;
    std::string path = dir.file("eqminfo.ini");
    constexpr int kThreads = 8;
    constexpr int kKeys = 40;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int k = 0; k < kKeys; ++k) {
                std::string section = "S" + std::to_string(k % 3);
                std::string key = "T" + std::to_string(t) + "K" + std::to_string(k);
                profile_write_string(section.c_str(), key.c_str(), std::to_string(t * 1000 + k).c_str(),
                                     path.c_str());
            }
        });
    }
    for (auto& w : writers) w.join();
    for (int t = 0; t < kThreads; ++t) {
        for (int k = 0; k < kKeys; ++k) {
            std::string section = "S" + std::to_string(k % 3);
            std::string key = "T" + std::to_string(t) + "K" + std::to_string(k);
            EXPECT_EQ(profile_read_int(section.c_str(), key.c_str(), -1, path.c_str()), t * 1000 + k)
                << section << "/" << key;
        }
    }
}

TEST(ProfileStore, AReaderDuringWritesNeverSeesAHalfWrittenFile) {
    TempDir dir;
    std::string path = dir.file("eqminfo.ini");
    ASSERT_TRUE(profile_write_string("Fixed", "Always", "here", path.c_str()));
    std::atomic<bool> done{false};
    std::atomic<int> misses{0};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!done) {
            // Read the raw file too, as another process would.
            std::string text = file_text(path);
            if (text.find("Always=here") == std::string::npos) ++misses;
            if (read_string(path, "Fixed", "Always") != "here") ++misses;
            ++reads;
        }
    });
    for (int i = 0; i < 300; ++i) {
        std::string value(static_cast<size_t>(i % 50) * 20, 'v');
        profile_write_string("Progress", ("Key" + std::to_string(i % 7)).c_str(), value.c_str(),
                             path.c_str());
    }
    done = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(misses.load(), 0);
    // No temporary file is left behind.
    EXPECT_EQ(files_in(dir.path()), 1u);
}

// A write keeps the file's owner, group and mode; where the directory may not
// be written but the file may, the file is rewritten in place.
TEST(ProfileStore, AWriteKeepsOwnerGroupAndModeAndNeedsNoWritableDirectory) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
    TempDir dir;
    const std::string path = dir.file("eqminfo.ini");
    write_text(path, "[A]\nk=1\n");
    ASSERT_EQ(::chown(path.c_str(), 1234, 5678), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    ASSERT_TRUE(profile_write_string("A", "k", "2", path.c_str()));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 5678u);
    EXPECT_EQ(st.st_mode & 07777, 0666u);

    // The file is nobody's, the directory root's and closed to nobody.
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    // The fsuid is this thread's; a reader on another thread stays root and
    // must never see a file half rewritten.
    std::atomic<bool> done{false};
    std::atomic<int> misses{0};
    std::thread reader([&] {
        while (!done) {
            // The file as a reader that takes its lock (as this library's
            // readers do) sees it: one whole version, the five values alike.
            std::string text;
            int fd = ::open(path.c_str(), O_RDONLY);
            if (fd >= 0 && ::flock(fd, LOCK_SH) == 0) text = file_text(path);
            if (fd >= 0) ::close(fd);
            const size_t at = text.find("n0=");
            if (at == std::string::npos) continue;  // before the first write of the five
            const std::string v = text.substr(at + 3, text.find('\n', at) - at - 3);
            std::string whole = "[A]\nk=3\n[B]\n";
            for (int n = 0; n < 5; ++n) whole += "n" + std::to_string(n) + "=" + v + "\n";
            misses += text != whole;
            misses += read_string(path, "A", "k") != "3";
        }
    });
    const int previous = ::setfsuid(65534);
    const bool written = profile_write_string("A", "k", "3", path.c_str());
    const std::string value = read_string(path, "A", "k");
    int failed = 0;
    for (int i = 0; i < 200; ++i) {
        const std::string v(static_cast<size_t>(i % 20) * 9, 'v');
        const ProfileWrite all[] = {{"B", "n0", v.c_str()},
                                    {"B", "n1", v.c_str()},
                                    {"B", "n2", v.c_str()},
                                    {"B", "n3", v.c_str()},
                                    {"B", "n4", v.c_str()}};
        failed += !profile_write_strings(all, 5, path.c_str());
    }
    ::setfsuid(static_cast<uid_t>(previous));
    done = true;
    reader.join();
    EXPECT_TRUE(written);
    EXPECT_EQ(value, "3");
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(misses.load(), 0);
    EXPECT_EQ(read_string(path, "A", "k"), "3");
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(files_in(dir.path()), 1u);
}

size_t heap_in_use() {
#ifdef __SANITIZE_ADDRESS__
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// Reading many different files (a conversion each) does not keep them all.
TEST(ProfileStore, ReadingAThousandDifferentFilesKeepsTheHeapFlat) {
    TempDir dir;
    std::string text = "[CardNo]\n";
    for (int i = 1; i <= 300; ++i) text += "CardNo" + std::to_string(i) + "=00100001,00200002\n";
    auto read_files = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            const std::string path = dir.file(std::to_string(i) + ".ini");
            write_text(path, text);
            EXPECT_EQ(read_string(path, "CardNo", "CardNo300"), "00100001,00200002");
            std::remove(path.c_str());
        }
    };
    read_files(0, 100);
    const size_t after100 = heap_in_use();
    read_files(100, 1000);
    const size_t after1000 = heap_in_use();
    EXPECT_LT(after1000, after100 + 4 * 1024 * 1024) << after100 << " -> " << after1000;
}

}  // namespace
}  // namespace doorlink::platform
