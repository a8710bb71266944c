#include "platform/platform.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <time.h>

namespace platform {

namespace {
struct Event {
    std::mutex mutex;
    std::condition_variable raised;
    bool up = false;
};

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

bool OpenWakeEvent(WakeEvent& event) {
    event.native = new Event;
    return true;
}

void RaiseWakeEvent(WakeEvent& event) {
    Event* e = static_cast<Event*>(event.native);
    if (!e)
        return;
    std::lock_guard<std::mutex> lock(e->mutex);
    e->up = true;
    e->raised.notify_one();
}

void WaitWakeEvent(WakeEvent& event, unsigned milliseconds) {
    Event* e = static_cast<Event*>(event.native);
    if (!e) {
        SleepMs(milliseconds);
        return;
    }
    std::unique_lock<std::mutex> lock(e->mutex);
    e->raised.wait_for(lock, std::chrono::milliseconds(milliseconds), [e] { return e->up; });
    e->up = false;
}

void CloseWakeEvent(WakeEvent& event) {
    delete static_cast<Event*>(event.native);
    event.native = nullptr;
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
