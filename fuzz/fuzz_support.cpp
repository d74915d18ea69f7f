#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/terminal.h"
#include "platform/ui.h"

namespace fuzzing {

namespace {

std::string privateFolder;

void removePrivateFolder() {
    std::error_code ignored;
    if (!privateFolder.empty()) std::filesystem::remove_all(privateFolder, ignored);
}

}  // namespace

void quietRobot() {
    platform::Terminal::instance().setEcho(false);
    platform::Terminal::instance().reset();
    platform::useVirtualTime(true);
    ui::setHeadless(true);
    platform::scriptKeys("");
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) {
        dup2(devNull, STDIN_FILENO);
        close(devNull);
    }
}

std::string enterPrivateFolder(const char* name) {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / (std::string("robotas-fuzz-") + name + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) std::abort();
    privateFolder = pattern;
    std::atexit(removePrivateFolder);
    fs::current_path(privateFolder);
    return privateFolder;
}

void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (size && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
}

}  // namespace fuzzing
