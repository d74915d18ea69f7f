#pragma once
// The robot's data files (Haar cascades and the like): the working directory's
// own copy wins, as on the robot; otherwise the copy an installed robot keeps
// in a share/robotas folder (installedDataFolders). Below them, the plain file
// requests of the subsystems: whole files in and out, and what a path names.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The file to open for a data file name: ./<name> when it is a readable file,
// else the first installed copy, else the name unchanged (so that the caller's
// "cannot open" message names what it looked for). Absolute names and names
// that climb out with ".." are returned unchanged.
std::string findDataFile(const std::string& name);

// The same search over the given folders instead of the installed ones.
std::string findDataFile(const std::string& name, const std::vector<std::string>& installedFolders);

// Where an installed robot keeps its data: share/robotas beside the folder of
// the running program (the program's own prefix, wherever it was moved or
// unpacked to; in the build tree, the build's own data), then <prefix>/share/robotas
// for the prefix the program was built for.
std::vector<std::string> installedDataFolders();

// Why a file cannot be read, in words ("No such file or directory", "a folder,
// not a file"); empty when it can be opened for reading.
std::string whyUnreadable(const std::string& path);

// What a path names, links followed; false when it names nothing.
bool isDirectory(const std::string& path);
bool isCharacterDevice(const std::string& path);  // a device node such as a camera
// The size of a plain file; false for a folder, a device or a missing file.
bool plainFileSize(const std::string& path, std::uintmax_t& size);

// The plain files of a folder (links followed) as folder/name, in name order;
// empty when the folder cannot be read.
std::vector<std::string> filesInFolder(const std::string& folder);

// The whole content of a file into bytes. False, errno set, when the file cannot
// be opened or read (a folder opens, but cannot be read).
bool readWholeFile(const std::string& path, std::string& bytes);

// Creates path, or empties it, and writes bytes; false when any part was refused.
bool writeWholeFile(const std::string& path, const std::string& bytes);
// Adds bytes at the end of path, creating it; false when any part was refused.
bool appendToFile(const std::string& path, const std::string& bytes);
// Puts bytes into path whole or not at all: written beside it, every write
// checked, then renamed over it. False (path untouched) when the disk refused any part.
bool replaceFileWhole(const std::string& path, const std::string& bytes);

}  // namespace platform
