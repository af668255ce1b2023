// Threads, a lock and a condition for making entries side by side.  The
// Windows builder is made with MinGW's win32 thread model (no winpthread
// DLL to ship), whose GCC 12 has no std::thread, std::mutex or
// std::condition_variable; there the same three come from the Win32 API
// (slim reader/writer locks and condition variables, Vista and later, as
// CNG already asks).  Elsewhere they are the standard library's.
#ifndef MKSFX_WORKERS_H
#define MKSFX_WORKERS_H

#include <functional>

#ifdef _WIN32
#include <windows.h>
#include <process.h>
#else
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace mksfx {

#ifdef _WIN32

class Mutex {
public:
    void Lock() { AcquireSRWLockExclusive(&lock_); }
    void Unlock() { ReleaseSRWLockExclusive(&lock_); }
    SRWLOCK *Native() { return &lock_; }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

class Condition {
public:
    // The mutex is held on entry and again on return.
    void Wait(Mutex &m) { SleepConditionVariableSRW(&condition_, m.Native(), INFINITE, 0); }
    void WakeAll() { WakeAllConditionVariable(&condition_); }

private:
    CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
};

class Thread {
public:
    explicit Thread(std::function<void()> body) : body_(std::move(body))
    {
        handle_ = (HANDLE)_beginthreadex(nullptr, 0, Start, this, 0, nullptr);
    }
    ~Thread() { Join(); }
    bool Started() const { return handle_ != nullptr; }
    void Join()
    {
        if (handle_) {
            WaitForSingleObject(handle_, INFINITE);
            CloseHandle(handle_);
            handle_ = nullptr;
        }
    }

private:
    static unsigned __stdcall Start(void *self)
    {
        ((Thread *)self)->body_();
        return 0;
    }
    std::function<void()> body_;
    HANDLE handle_ = nullptr;
};

inline unsigned CoreCount()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors ? info.dwNumberOfProcessors : 1;
}

#else

class Mutex {
public:
    void Lock() { lock_.lock(); }
    void Unlock() { lock_.unlock(); }
    std::mutex &Native() { return lock_; }

private:
    std::mutex lock_;
};

class Condition {
public:
    // The mutex is held on entry and again on return.
    void Wait(Mutex &m)
    {
        std::unique_lock<std::mutex> held(m.Native(), std::adopt_lock);
        condition_.wait(held);
        held.release();
    }
    void WakeAll() { condition_.notify_all(); }

private:
    std::condition_variable condition_;
};

class Thread {
public:
    explicit Thread(std::function<void()> body) : thread_(std::move(body)) {}
    ~Thread() { Join(); }
    bool Started() const { return true; }
    void Join()
    {
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::thread thread_;
};

inline unsigned CoreCount()
{
    unsigned n = std::thread::hardware_concurrency();
    return n ? n : 1;
}

#endif

class Locked {
public:
    explicit Locked(Mutex &m) : m_(m) { m_.Lock(); }
    ~Locked() { m_.Unlock(); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

private:
    Mutex &m_;
};

}  // namespace mksfx

#endif
