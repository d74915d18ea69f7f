#include "tests/support/robot_test.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/runner.h"
#include "platform/terminal.h"
#include "platform/ui.h"

namespace robotest {

void RobotTest::SetUp() {
    auto& terminal = platform::Terminal::instance();
    terminal.setEcho(false);
    terminal.reset();
    platform::useVirtualTime(true);
    ui::setHeadless(true);
    ui::destroyAllWindows();
    platform::recordCommands(true);
    platform::clearRecordedCommands();
    platform::useTerminalKeys();
    platform::scriptKeys("");
}

void RobotTest::TearDown() {
    platform::useTerminalKeys();
    platform::scriptKeys("");
    ui::destroyAllWindows();
}

std::string RobotTest::row(int y) { return platform::Terminal::instance().rowText(y - 1); }
std::string RobotTest::screen() { return platform::Terminal::instance().screenText(); }
unsigned short RobotTest::attrAt(int x, int y) { return platform::Terminal::instance().attrAt(x - 1, y - 1); }
unsigned char RobotTest::charAt(int x, int y) { return platform::Terminal::instance().charAt(x - 1, y - 1); }

ScopedWorkDir::ScopedWorkDir() {
    namespace fs = std::filesystem;
    previous_ = fs::current_path().string();
    std::string pattern = (fs::temp_directory_path() / "robotas-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    path_ = pattern;
    fs::current_path(path_);
}

ScopedWorkDir::~ScopedWorkDir() {
    namespace fs = std::filesystem;
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    fs::remove_all(path_, ignored);
}

namespace {

// An environment variable overrides the path the build compiled in.
std::string configuredPath(const char* variable, const char* built) {
    const char* value = std::getenv(variable);
    return value && *value ? value : built;
}

}  // namespace

std::string testData(const std::string& relative) {
    return configuredPath("ROBOTAS_TESTDATA", ROBOTAS_TESTDATA_DIR) + "/" + relative;
}

std::string sharedTestData(const std::string& relative) {
    return configuredPath("ROBOTAS_SHARED_TESTDATA", ROBOTAS_SHARED_TESTDATA_DIR) + "/" + relative;
}

std::string programPath(const std::string& name) {
    return configuredPath("ROBOTAS_BIN", ROBOTAS_BIN_DIR) + "/" + name;
}

std::string cascadePath(const std::string& name) {
    return configuredPath("ROBOTAS_CASCADES", ROBOTAS_CASCADE_DIR) + "/" + name;
}

}  // namespace robotest
