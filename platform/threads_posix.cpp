#include "platform/platform.h"

#include <cerrno>
#include <pthread.h>
#include <time.h>

namespace platform {

namespace {
struct Start {
    ThreadRoutine routine;
    void* arg;
};

void* Trampoline(void* p) {
    Start start = *static_cast<Start*>(p);
    delete static_cast<Start*>(p);
    start.routine(start.arg);
    return nullptr;
}

bool Launch(ThreadRoutine routine, void* arg, pthread_t& thread) {
    Start* start = new Start{routine, arg};
    if (pthread_create(&thread, nullptr, Trampoline, start) != 0) {
        delete start;
        return false;
    }
    return true;
}
} // namespace

bool StartDetachedThread(ThreadRoutine routine, void* arg) {
    pthread_t thread;
    if (!Launch(routine, arg, thread))
        return false;
    pthread_detach(thread);
    return true;
}

bool StartThread(ThreadRoutine routine, void* arg, ThreadHandle& handle) {
    pthread_t* thread = new pthread_t;
    if (!Launch(routine, arg, *thread)) {
        delete thread;
        return false;
    }
    handle.native = thread;
    return true;
}

void WaitAllThreads(std::vector<ThreadHandle>& handles) {
    for (ThreadHandle& handle : handles) {
        if (!handle.native)
            continue;
        pthread_t* thread = static_cast<pthread_t*>(handle.native);
        pthread_join(*thread, nullptr);
        delete thread;
        handle.native = nullptr;
    }
}

void SleepMs(unsigned milliseconds) {
    timespec rest{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

bool LocalTimeNow(std::tm& out, int& error) {
    time_t now = time(nullptr);
    if (now == static_cast<time_t>(-1) || !localtime_r(&now, &out)) {
        error = errno;
        return false;
    }
    return true;
}

} // namespace platform
