#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include "platform/user_folders.h"
#include "support/temp_folder.h"

using support::TempFolderTest;
using support::WriteAll;

namespace {

class UserFolders : public TempFolderTest {};

struct WritableCase {
    const char* name;
    const char* path;  // relative to the test's folder; nullptr for an empty path
    bool writable;
};

}  // namespace

TEST_F(UserFolders, FolderIsWritableOnlyWhenSomeoneMayWriteItAndWeMay) {
    std::filesystem::create_directory(m_dir / "open");
    std::filesystem::create_directory(m_dir / "locked");
    ASSERT_EQ(::chmod(Path("locked").c_str(), 0555), 0);
    std::filesystem::create_directory(m_dir / "owneronly");
    ASSERT_EQ(::chmod(Path("owneronly").c_str(), 0700), 0);
    WriteAll(Path("file"), "x");
    const WritableCase cases[] = {
        {"an ordinary folder", "open", true},
        {"owner may write", "owneronly", true},
        {"no write bit, root included", "locked", false},
        {"a regular file", "file", false},
        {"missing", "missing", false},
        {"empty path", nullptr, false},
    };
    for (const WritableCase& c : cases) {
        EXPECT_EQ(platform::FolderIsWritable(c.path ? Path(c.path) : std::string()), c.writable) << c.name;
    }
}

TEST_F(UserFolders, CreateFoldersMakesEveryMissingLevelPrivateAndStopsAtAFile) {
    const std::string deep = Path("a/b/c");
    ASSERT_TRUE(platform::CreateFolders(deep));
    for (const char* level : {"a", "a/b", "a/b/c"}) {
        struct stat st{};
        ASSERT_EQ(::stat(Path(level).c_str(), &st), 0) << level;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << level;
    }
    EXPECT_TRUE(platform::CreateFolders(deep)) << "an existing folder is fine";
    EXPECT_TRUE(platform::CreateFolders(Path("a/b/")));

    WriteAll(Path("file"), "x");
    EXPECT_FALSE(platform::CreateFolders(Path("file")));
    EXPECT_FALSE(platform::CreateFolders(Path("file/below")));
    EXPECT_FALSE(platform::CreateFolders(""));
}

TEST(HomeFolder, IsHomeWhenAbsoluteOtherwiseTheAccountsHome) {
    const std::string saved = platform::EnvironmentValue("HOME");
    ASSERT_EQ(::setenv("HOME", "/somewhere/else", 1), 0);
    EXPECT_EQ(platform::HomeFolder(), "/somewhere/else");
    for (const char* ignored : {"relative/home", ""}) {
        ASSERT_EQ(::setenv("HOME", ignored, 1), 0);
        const std::string home = platform::HomeFolder();
        ASSERT_FALSE(home.empty()) << "HOME=" << ignored;
        EXPECT_EQ(home.front(), '/') << "HOME=" << ignored;
    }
    ASSERT_EQ(::unsetenv("HOME"), 0);
    const std::string fallback = platform::HomeFolder();
    ASSERT_FALSE(fallback.empty());
    EXPECT_EQ(fallback.front(), '/');
    EXPECT_EQ(platform::EnvironmentValue("HOME"), "");
    ::setenv("HOME", saved.c_str(), 1);
}
