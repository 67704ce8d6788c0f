#include "safe_file.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class SafeFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "veldmark-safe-XXXXXX").string();
        dir = mkdtemp(pattern.data());
    }
    void TearDown() override {
        SetFileWriteFunction(nullptr);
        SetUnnamedTemporaryFilesAllowed(true);
        fs::remove_all(dir);
    }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void Put(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    bool Save(const std::string& path, const std::string& text) {
        AtomicFileWriter out;
        error.clear();
        return out.Open(path.c_str(), &error) && out.Write(text.data(), text.size(), &error) &&
               out.Commit(&error);
    }
    std::set<std::string> Names(const fs::path& folder) const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.insert(entry.path().filename().string());
        return names;
    }

    fs::path dir;
    std::string error;
};

TEST_F(SafeFile, OnlyRegularFilesOpenAndNothingWaitsOnAPipe) {
    Put(Path("a.bin"), "abc");
    ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
    fs::create_directory(dir / "folder");
    // A regression would block in open for good; the alarm ends the test program instead.
    ::alarm(20);
    const struct {
        std::string path, reason;
    } refused[] = {
        {Path("pipe"), "일반 파일이 아닙니다"},
        {"/dev/null", "일반 파일이 아닙니다"},
        {Path("folder"), "폴더입니다"},
        {Path("missing"), "그런 파일이나 폴더가 없습니다"},
        {Path("a.bin/x"), "경로의 일부가 폴더가 아닙니다"},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(OpenRegularFile(r.path.c_str(), &error), -1) << r.path;
        EXPECT_EQ(error, r.reason) << r.path;
        EXPECT_EQ(OpenRegularFileStream(r.path.c_str(), &error), nullptr) << r.path;
    }
    ::alarm(0);

    const int fd = OpenRegularFile(Path("a.bin").c_str(), &error);
    ASSERT_GE(fd, 0) << error;
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0); // reads wait for data as usual
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    char buffer[4] = {};
    EXPECT_EQ(::read(fd, buffer, 4), 3);
    ::close(fd);
}

TEST_F(SafeFile, SavingThroughALinkReplacesTheFileItNamesAndKeepsTheLink) {
    fs::create_directory(dir / "real");
    Put(Path("real/target.mvd"), "old");
    fs::create_symlink("real/target.mvd", dir / "link.mvd");
    fs::create_symlink(dir / "link.mvd", dir / "chain.mvd"); // absolute, to a link
    fs::create_symlink("real/made.mvd", dir / "dangling.mvd");

    for (auto [link, target, text] : {std::tuple{"link.mvd", "real/target.mvd", "new"},
                                      std::tuple{"chain.mvd", "real/target.mvd", "newer"},
                                      std::tuple{"dangling.mvd", "real/made.mvd", "made"}}) {
        SCOPED_TRACE(link);
        ASSERT_TRUE(Save(Path(link), text)) << error;
        EXPECT_TRUE(fs::is_symlink(dir / link));
        EXPECT_EQ(Read(Path(target)), text);
    }
    EXPECT_EQ(Names(dir), (std::set<std::string>{"real", "link.mvd", "chain.mvd", "dangling.mvd"}));
    EXPECT_EQ(Names(dir / "real"), (std::set<std::string>{"target.mvd", "made.mvd"}));

    // A link into a folder that does not exist says so and makes nothing.
    fs::create_symlink("nowhere/x.mvd", dir / "lost.mvd");
    EXPECT_FALSE(Save(Path("lost.mvd"), "x"));
    EXPECT_NE(error.find("그런 파일이나 폴더가 없습니다"), std::string::npos) << error;
}

TEST_F(SafeFile, AReplacedFileKeepsItsModeOwnerAndGroupAndLongNamesWork) {
    const std::string path = Path("kept.mvd");
    Put(path, "old");
    ::chmod(path.c_str(), 0640);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(path.c_str(), 1234, 5678), 0);
    }
    ASSERT_TRUE(Save(path, "new")) << error;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_TRUE(st.st_uid == 1234u && st.st_gid == 5678u);
    }
    EXPECT_EQ(Read(path), "new");

    // A new file gets the usual mode under the process's umask.
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(Save(Path("fresh.mvd"), "x")) << error;
    ::umask(mask);
    ASSERT_EQ(::stat(Path("fresh.mvd").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    // 82 Hangul syllables of three bytes and ".mvd": 250 bytes, five short of the limit.
    std::string name;
    for (int i = 0; i < 82; ++i)
        name += "지";
    name += ".mvd";
    ASSERT_EQ(name.size(), 250u);
    for (bool unnamed : {true, false}) {
        SetUnnamedTemporaryFilesAllowed(unnamed);
        ASSERT_TRUE(Save(Path(name), unnamed ? "a" : "b")) << error;
        ASSERT_TRUE(Save(Path(name), unnamed ? "c" : "d")) << error; // over the file
        EXPECT_EQ(Read(Path(name)), unnamed ? "c" : "d");
    }
    EXPECT_EQ(Names(dir), (std::set<std::string>{"kept.mvd", "fresh.mvd", name}));
}

// Writes the first call's bytes, then dies as a killed editor would, mid-save.
ssize_t DieOnSecondWrite(int fd, const void* data, size_t bytes) {
    static int calls = 0;
    if (++calls > 1)
        ::raise(SIGKILL);
    return ::write(fd, data, bytes);
}

TEST_F(SafeFile, AKilledSaveLeavesNothingVisibleOrOnlyWhatTheNextSaveRemoves) {
    const std::string path = Path("work.mvd");
    Put(path, "old");
    // A temporary of a process that still runs, and a name that only looks like ours.
    const std::string live = ".veldmark-" + std::to_string(::getppid()) + "-7.tmp";
    Put(Path(live), "busy");
    Put(Path(".veldmark-x-1.tmp"), "mine");
    const std::set<std::string> before = Names(dir);

    for (bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed temporary" : "named temporary");
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            SetUnnamedTemporaryFilesAllowed(unnamed);
            SetFileWriteFunction(DieOnSecondWrite);
            const std::string block(1 << 20, 'x');
            AtomicFileWriter out;
            std::string ignored;
            if (out.Open(path.c_str(), &ignored))
                for (int i = 0; i < 4; ++i)
                    out.Write(block.data(), block.size(), &ignored);
            ::_exit(3); // only reached when the save did not get under way
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        EXPECT_EQ(Read(path), "old");

        // Unnamed: nothing. Named: the dead save's own short name, which the next save into
        // the folder removes.
        std::set<std::string> left = Names(dir);
        for (const std::string& name : before) {
            EXPECT_EQ(left.erase(name), 1u) << name;
        }
        if (unnamed) {
            EXPECT_TRUE(left.empty());
        } else {
            ASSERT_EQ(left.size(), 1u);
            EXPECT_EQ(left.begin()->rfind(".veldmark-" + std::to_string(child) + "-", 0), 0u);
        }
        ASSERT_TRUE(Save(path, "saved")) << error;
        EXPECT_EQ(Read(path), "saved");
        EXPECT_EQ(Names(dir), before);
        Put(path, "old");
    }

    // What earlier versions left beside the target ("NAME.tmpPID-N") goes too once its
    // process is gone; a live one's stays.
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    Put(path + ".tmp" + std::to_string(gone) + "-0", "rubbish");
    const std::string busy = "work.mvd.tmp" + std::to_string(::getppid()) + "-2";
    Put(Path(busy), "busy");
    ASSERT_TRUE(Save(path, "again")) << error;
    std::set<std::string> expected = before;
    expected.insert(busy);
    EXPECT_EQ(Names(dir), expected);
}

} // namespace
