#pragma once
// The robot's data files (Haar cascades and the like): the working directory's
// own copy wins, as on the robot; otherwise the copy an installed robot keeps
// in a share/robotas folder (installedDataFolders).

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

}  // namespace platform
