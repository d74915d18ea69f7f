#include "platform/datafiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/robot_test.h"

namespace {

using Folders = std::vector<std::string>;

void writeFile(const std::string& path) { std::ofstream(path) << "<opencv_storage/>\n"; }

// An installed share folder and a working directory of the test's own.
class DataFiles : public ::testing::Test {
protected:
    robotest::ScopedWorkDir work;
    std::string share = work.path() + "/prefix/share/robotas";
    std::string other = work.path() + "/other";

    void SetUp() override {
        for (const std::string& folder : {work.path() + "/prefix", work.path() + "/prefix/share", share, other})
            mkdir(folder.c_str(), 0755);
        mkdir("run", 0755);
        ASSERT_EQ(chdir("run"), 0);  // the working directory starts empty
    }
};

TEST_F(DataFiles, WorkingDirectoryFirstThenTheFirstFolderThatHasIt) {
    writeFile(share + "/cascade.xml");
    writeFile(other + "/cascade.xml");
    writeFile(other + "/profile.xml");
    writeFile("local.xml");
    writeFile(share + "/local.xml");
    const struct {
        std::string name;
        Folders folders;
        std::string found;
    } cases[] = {
        {"local.xml", {share}, "local.xml"},
        {"cascade.xml", {other + "/missing", share, other}, share + "/cascade.xml"},
        {"profile.xml", {share, other}, other + "/profile.xml"},
        {"nowhere.xml", {share, other}, "nowhere.xml"},  // the name stays for the caller's message
        {"", {share}, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::findDataFile(c.name, c.folders), c.found) << c.name;
}

TEST_F(DataFiles, FolderOrUnreadableFileInTheWorkingDirectoryDoesNotHideTheInstalledCopy) {
    writeFile(share + "/cascade.xml");
    mkdir("cascade.xml", 0755);
    EXPECT_EQ(platform::findDataFile("cascade.xml", {share}), share + "/cascade.xml");
    writeFile(share + "/locked.xml");
    writeFile("locked.xml");
    chmod("locked.xml", 0);
    if (geteuid() != 0) {  // root reads it anyway
        EXPECT_EQ(platform::findDataFile("locked.xml", {share}), share + "/locked.xml");
    }
}

TEST_F(DataFiles, AbsoluteAndClimbingNamesAreNotLookedUpElsewhere) {
    writeFile(share + "/cascade.xml");
    writeFile(work.path() + "/prefix/secret.xml");
    EXPECT_EQ(platform::findDataFile("/etc/cascade.xml", {share}), "/etc/cascade.xml");
    EXPECT_EQ(platform::findDataFile("../secret.xml", {share}), "../secret.xml");
    EXPECT_EQ(platform::findDataFile("sub/../../secret.xml", {share}), "sub/../../secret.xml");
    // A name that only starts with dots is an ordinary name.
    writeFile(share + "/..cascade.xml");
    EXPECT_EQ(platform::findDataFile("..cascade.xml", {share}), share + "/..cascade.xml");
}

TEST(DataFolders, InstalledFoldersEndInShareRobotasAndAreNotRepeated) {
    const Folders folders = platform::installedDataFolders();
    ASSERT_FALSE(folders.empty());
    for (const std::string& folder : folders) {
        ASSERT_GE(folder.size(), std::string("/share/robotas").size());
        EXPECT_EQ(folder.substr(folder.size() - 14), "/share/robotas") << folder;
    }
    if (folders.size() == 2) {
        EXPECT_NE(folders[0], folders[1]);
    }
}

}  // namespace
