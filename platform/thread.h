#pragma once
// A worker thread that its owner starts and later joins: the robot's short
// per-frame jobs (the mechanics step) run beside the frame's own work.

#include <functional>
#include <thread>

namespace platform {

class WorkerThread {
public:
    WorkerThread() = default;
    // A worker never joined is left to run out on its own: at the program's end
    // it stops with the process, as the robot's threads always have.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs work on a new thread. False when the system could not make one, or
    // when the last worker has not been joined yet.
    bool start(std::function<void()> work);
    // Waits for the worker to finish; does nothing when none was started.
    void join();

private:
    std::thread thread_;
};

}  // namespace platform
