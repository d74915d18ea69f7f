#include "platform/datafiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>

#ifndef ROBOTAS_INSTALL_DATADIR
#define ROBOTAS_INSTALL_DATADIR "/usr/local/share/robotas"
#endif

namespace platform {
namespace {

bool isReadableFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), R_OK) == 0;
}

// Only plain relative names are looked up elsewhere: an absolute path or one
// that climbs with ".." means the caller chose the file itself.
bool isSearchableName(const std::string& name) {
    if (name.empty() || name[0] == '/') return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t slash = name.find('/', start);
        const std::size_t end = slash == std::string::npos ? name.size() : slash;
        if (name.compare(start, end - start, "..") == 0 && end - start == 2) return false;
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return true;
}

// share/robotas beside the program's bin folder; empty when it cannot be told.
std::string folderBesideProgram() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
    std::string program(buffer, static_cast<std::size_t>(length));
    const std::size_t binSlash = program.find_last_of('/');
    if (binSlash == std::string::npos || binSlash == 0) return {};
    const std::size_t prefixSlash = program.find_last_of('/', binSlash - 1);
    if (prefixSlash == std::string::npos) return {};
    return program.substr(0, prefixSlash) + "/share/robotas";
}

// The type bits of what path names (links followed); 0 when it names nothing.
mode_t fileType(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & S_IFMT : 0;
}

// Writes all bytes through a file opened in mode; errno survives the closing.
bool writeThrough(const std::string& path, const char* mode, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), mode);
    if (!file) return false;
    bool whole = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    whole = std::fflush(file) == 0 && whole;
    const int error = errno;
    whole = std::fclose(file) == 0 && whole;
    if (!whole) errno = error;
    return whole;
}

}  // namespace

std::vector<std::string> installedDataFolders() {
    std::vector<std::string> folders;
    const std::string beside = folderBesideProgram();
    if (!beside.empty() && beside != ROBOTAS_INSTALL_DATADIR) folders.push_back(beside);
    folders.push_back(ROBOTAS_INSTALL_DATADIR);
    return folders;
}

std::string findDataFile(const std::string& name, const std::vector<std::string>& installedFolders) {
    if (!isSearchableName(name) || isReadableFile(name)) return name;
    for (const std::string& folder : installedFolders) {
        const std::string candidate = folder + "/" + name;
        if (isReadableFile(candidate)) return candidate;
    }
    return name;
}

std::string findDataFile(const std::string& name) { return findDataFile(name, installedDataFolders()); }

std::string whyUnreadable(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return std::strerror(errno);
    if (S_ISDIR(info.st_mode)) return "a folder, not a file";
    if (access(path.c_str(), R_OK) != 0) return std::strerror(errno);
    return {};
}

bool isDirectory(const std::string& path) { return S_ISDIR(fileType(path)); }

bool isCharacterDevice(const std::string& path) { return S_ISCHR(fileType(path)); }

bool plainFileSize(const std::string& path, std::uintmax_t& size) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    size = static_cast<std::uintmax_t>(info.st_size);
    return true;
}

std::vector<std::string> filesInFolder(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.is_regular_file(error)) names.push_back(entry.path().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool readWholeFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.append(chunk, got);
    const int error = errno;
    const bool whole = std::ferror(file) == 0;
    std::fclose(file);
    errno = error;
    return whole;
}

bool writeWholeFile(const std::string& path, const std::string& bytes) { return writeThrough(path, "wb", bytes); }

bool appendToFile(const std::string& path, const std::string& bytes) { return writeThrough(path, "ab", bytes); }

bool replaceFileWhole(const std::string& path, const std::string& bytes) {
    const std::string temporary = path + ".part";
    if (writeThrough(temporary, "wb", bytes) && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    std::remove(temporary.c_str());
    return false;
}

}  // namespace platform
