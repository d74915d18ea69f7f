#pragma once
// Where the robot's devices live on this machine, and other small OS requests.

#include <string>

namespace platform {

// Serial port index n (0 = COM1): ./COM<n+1> in the working directory when such
// a file or link exists (ln -s /dev/ttyUSB0 COM2), otherwise /dev/ttyS<n>.
std::string serialPortPath(int index);

// Camera index n: ./video<n> in the working directory when it exists (a link to a
// device node, or a video file); empty when the camera is video device n itself.
std::string cameraFilePath(int index);

// Asks for real-time scheduling of the process; a refusal is silent.
void requestRealtimePriority();

bool fileReadable(const std::string& path);
bool pathExists(const std::string& path);
// Creates a directory (one level); true when it exists afterwards.
bool makeDirectory(const std::string& path);

}  // namespace platform
