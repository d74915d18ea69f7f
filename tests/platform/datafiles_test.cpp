#include "platform/datafiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "tests/support/robot_test.h"

namespace {

using Folders = std::vector<std::string>;

// The working directory first, then the first installed folder that has the file;
// absolute and climbing names are not looked up elsewhere.
TEST(DataFiles, WorkingDirectoryFirstThenTheFirstFolderThatHasIt) {
    robotest::ScopedWorkDir work;
    const std::string share = work.path() + "/prefix/share/robotas", other = work.path() + "/other";
    for (const std::string& folder : {work.path() + "/prefix", work.path() + "/prefix/share", share, other, work.path() + "/run"})
        mkdir(folder.c_str(), 0755);
    ASSERT_EQ(chdir("run"), 0);
    for (const std::string& file : {share + "/cascade.xml", other + "/cascade.xml", other + "/profile.xml", std::string("local.xml"),
                                    share + "/local.xml", share + "/locked.xml", std::string("locked.xml"), share + "/..cascade.xml",
                                    work.path() + "/prefix/secret.xml", share + "/folder.xml"})
        std::ofstream(file) << "<opencv_storage/>\n";
    mkdir("folder.xml", 0755);
    chmod("locked.xml", 0);
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
        {"folder.xml", {share}, share + "/folder.xml"},  // a folder here does not hide the installed copy
        {"locked.xml", {share}, geteuid() == 0 ? "locked.xml" : share + "/locked.xml"},  // nor an unreadable file (root reads it)
        {"/etc/cascade.xml", {share}, "/etc/cascade.xml"},
        {"../secret.xml", {share}, "../secret.xml"},
        {"sub/../../secret.xml", {share}, "sub/../../secret.xml"},
        {"..cascade.xml", {share}, share + "/..cascade.xml"},  // only starts with dots: an ordinary name
    };
    for (const auto& c : cases) EXPECT_EQ(platform::findDataFile(c.name, c.folders), c.found) << c.name;
}

TEST(DataFolders, InstalledFoldersEndInShareRobotasAndAreNotRepeated) {
    const Folders folders = platform::installedDataFolders();
    ASSERT_FALSE(folders.empty());
    for (const std::string& folder : folders)
        EXPECT_EQ(folder.size() >= 14 ? folder.substr(folder.size() - 14) : folder, "/share/robotas") << folder;
    EXPECT_FALSE(folders.size() == 2 && folders[0] == folders[1]);
}

}  // namespace
