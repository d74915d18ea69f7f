// Offline work on the robot's face database, with the functions the robot uses:
//   robotas-faces learn LIST   trains facedata.xml from a list file
//   robotas-faces test LIST    recognises the pictures of a list against facedata.xml
// Both run in the working directory, where the robot keeps its database.

#include <cstdio>
#include <cstring>
#include <string>

#include "faces/faces.h"
#include "shell/f_graph.h"

namespace {

int usage() {
    std::fputs("Naudojimas: robotas-faces learn SARASAS | robotas-faces test SARASAS\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return usage();
    const std::string command = argv[1];
    const std::string list = argv[2];
    int status = 0;
    if (command == "learn") {
        status = learn(list) ? 0 : 1;
    } else if (command == "test") {
        accuracy = -1;
        recognizeFileList(list);
        status = accuracy >= 0 ? 0 : 1;
    } else {
        return usage();
    }
    gf.printf("\n");
    return status;
}
