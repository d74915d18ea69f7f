#include "platform/devices.h"

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

bool pathExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 || lstat(path.c_str(), &info) == 0;
}

bool fileReadable(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

bool makeDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0755) == 0) return true;
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string serialPortPath(int index) {
    const std::string local = "./COM" + std::to_string(index + 1);
    if (pathExists(local)) return local;
    return "/dev/ttyS" + std::to_string(index);
}

std::string cameraFilePath(int index) {
    const std::string local = "./video" + std::to_string(index);
    return pathExists(local) ? local : std::string();
}

void requestRealtimePriority() {
    if (std::getenv("ROBOTAS_NO_REALTIME")) return;  // tests and simulators keep normal scheduling
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_RR);
    sched_setscheduler(0, SCHED_RR, &param);  // usually refused without privileges; that is fine
}

}  // namespace platform
