#include "platform/thread.h"

#include <system_error>
#include <utility>

namespace platform {

bool WorkerThread::start(std::function<void()> work) {
    if (thread_.joinable()) return false;
    try {
        thread_ = std::thread(std::move(work));
    } catch (const std::system_error&) {  // out of threads or memory for one
        return false;
    }
    return true;
}

WorkerThread::~WorkerThread() {
    if (thread_.joinable()) thread_.detach();
}

void WorkerThread::join() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace platform
