// The threading library: owners of kernel handles, waits, timers, thread-pool waits, a counting gate,
// a message queue and the registry change monitor.
#pragma once
#include <windows.h>
#include <deque>
#include <memory>
#include <vector>
#include "Framework/Exceptions.h"
#include "Framework/Registry.h"

namespace MTSys {

// Source position carried by every WindowsError this library raises.
inline constexpr char kSourcePath[] = "MTSys/MTSys";

// Raises WindowsError (last error, kSourcePath, line) when `ok` is false.
#define MTSYS_CHECK(ok) CHECK_WIN32(ok, ::MTSys::kSourcePath)

// A critical section held for one scope.
class Lock {
public:
    explicit Lock(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
    ~Lock() { LeaveCriticalSection(&section_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CRITICAL_SECTION& section_;
};

// Owns one kernel handle and closes it on destruction.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE owned) : handle_(owned) {}
    Handle(const Handle& other);  // duplicates the other's handle
    Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Handle& operator=(const Handle& other);
    Handle& operator=(Handle&& other) noexcept;
    virtual ~Handle();
    virtual bool IsValid() const = 0;

    HANDLE Get() const noexcept { return handle_; }
    // Gives the handle up to the caller.
    HANDLE Detach() noexcept;

protected:
    // Closes the held handle and takes `owned` instead.
    void Reset(HANDLE owned = nullptr) noexcept;
    HANDLE handle_ = nullptr;
};

class SyncObject : public Handle {
public:
    SyncObject() = default;
    explicit SyncObject(HANDLE owned) : Handle(owned) {}
    bool IsValid() const override { return handle_ != nullptr; }
    // True when the object was signalled or abandoned within `ms`; false on time-out or failure.
    bool Wait(DWORD ms) const;
    bool Wait() const { return Wait(0); }
};

class Event : public SyncObject {
public:
    Event(bool manualReset, bool initialState);
    explicit Event(HANDLE owned) : SyncObject(owned) {}
    void Set();
    void Reset();
    void Pulse();
};

class Thread : public SyncObject {
public:
    using StartAddress = unsigned(__stdcall*)(void*);
    Thread() = default;
    // Closes any previous thread handle; answers the new thread's id.
    unsigned Start(StartAddress start, void* argument, bool suspended = false, unsigned stackSize = 0,
                   SECURITY_ATTRIBUTES* security = nullptr);
    DWORD Suspend();  // the previous suspend count
    DWORD Resume();   // the previous suspend count
    void Terminate(DWORD exitCode);
    DWORD GetExitCode() const;  // STILL_ACTIVE while the thread runs
};

class Timer : public SyncObject {
public:
    explicit Timer(bool manualReset);
    // `dueTime` in 100 ns units, negative for a time relative to now; `period` in milliseconds, 0 for once.
    void Set(LONGLONG dueTime, LONG period = 0);
    void Cancel();
};

// A system timer queue. Deleting the queue deletes its timers; their holders then have nothing to cancel.
class TimerQueue {
public:
    class Timer {
    public:
        Timer(const Timer&) = delete;
        Timer& operator=(const Timer&) = delete;
        // Blocks until the callbacks that were running have completed.
        virtual ~Timer();
        virtual bool IsValid() const { return timer_ != nullptr; }
        // Deletes the timer; the returned event is set once no callback runs any more.
        virtual Event Cancel();

    private:
        friend class TimerQueue;
        Timer(HANDLE queue, HANDLE timer, std::shared_ptr<const bool> queueAlive)
            : queue_(queue), timer_(timer), queueAlive_(std::move(queueAlive)) {}
        HANDLE queue_;
        HANDLE timer_;
        std::shared_ptr<const bool> queueAlive_;
        std::unique_ptr<Event> done_;  // completion of the last deletion, kept until destruction
    };

    TimerQueue();
    TimerQueue(const TimerQueue&) = delete;
    TimerQueue& operator=(const TimerQueue&) = delete;
    // Blocks until the callbacks that were running have completed.
    virtual ~TimerQueue();
    virtual bool IsValid() const { return queue_ != nullptr; }
    // `callback` is called on a pool thread and must not let an exception escape.
    virtual std::unique_ptr<Timer> CreateTimer(WAITORTIMERCALLBACK callback, void* parameter, DWORD dueTime,
                                               DWORD period = 0, ULONG flags = WT_EXECUTEDEFAULT);
    // Deletes the queue with its timers; the returned event is set once no callback runs any more.
    virtual Event Delete();

private:
    HANDLE queue_;
    std::shared_ptr<bool> alive_;  // false once the queue, and with it every timer, is deleted
    std::unique_ptr<Event> done_;  // completion of the deletion, kept until destruction
};

namespace Detail {
// One thread-pool wait registration guarded by a lock. Work runs under the lock and only for the
// registration in place, so Unregister never overlaps it and a callback of an ended registration
// does nothing. Each registration keeps a completion event: the owner never goes away while a
// callback of any of its registrations may still run, even one unregistered from inside a callback.
class PoolWait {
public:
    // Called under the lock; must not raise.
    using Work = void (*)(void* context, bool timedOut);

    PoolWait() { InitializeCriticalSection(&lock_); }
    // Must not run inside one of its own callbacks.
    ~PoolWait();
    PoolWait(const PoolWait&) = delete;
    PoolWait& operator=(const PoolWait&) = delete;

    // Replaces any earlier registration. False when the system refused it.
    bool Register(HANDLE object, Work work, void* context, DWORD ms, ULONG flags);
    // Returns once no callback runs any more; from inside a callback it returns at once and a later
    // Unregister (or the destructor) waits instead. Called with the lock held, it lets go of the
    // lock while it waits, as a callback blocked on the lock has to get in to finish.
    void Unregister();
    bool IsRegistered();
    CRITICAL_SECTION& LockObject() { return lock_; }

private:
    struct Registration;
    static void CALLBACK Fire(void* registration, BOOLEAN timedOut);
    void EndCurrent();  // lock held
    CRITICAL_SECTION lock_;
    std::shared_ptr<Registration> current_;
    std::vector<std::shared_ptr<Registration>> ending_;  // unregistered, callbacks maybe still running
    DWORD runningThread_ = 0;                            // the thread inside a callback, 0 when none
};
}  // namespace Detail

// Called back on the thread pool when the watched object is signalled or the wait times out.
// Registration happens in Start(), which the most derived constructor calls last, so that no
// callback can reach a half-built object; a derived destructor calls Release() first for the same
// reason on the way out.
class WaitCallback {
public:
    WaitCallback(const SyncObject& object, DWORD ms, ULONG flags);
    WaitCallback(const WaitCallback&) = delete;
    WaitCallback& operator=(const WaitCallback&) = delete;
    virtual ~WaitCallback();
    // Ends the registration; returns once no callback runs any more.
    virtual void Release();
    virtual void OnSignal(bool timedOut) = 0;

protected:
    // Registers the thread-pool wait; raises WindowsError when the system refuses.
    void Start();

private:
    static void Signal(void* self, bool timedOut);
    Detail::PoolWait wait_;
    SyncObject object_;
    DWORD ms_;
    ULONG flags_;
};

// Sets its copy of the target event when the watched object is signalled.
class SyncJoint : public WaitCallback {
public:
    SyncJoint(const SyncObject& watched, const Event& target, DWORD ms = INFINITE, ULONG flags = WT_EXECUTEONLYONCE);
    ~SyncJoint() override;
    void OnSignal(bool timedOut) override;

private:
    Event target_;
};

// A counting gate: at most `limit` holders; later comers wait in arrival order.
class CountLimiter {
public:
    explicit CountLimiter(unsigned limit);
    CountLimiter(const CountLimiter&) = delete;
    CountLimiter& operator=(const CountLimiter&) = delete;
    // Wakes every remaining waiter.
    virtual ~CountLimiter();
    // Answers the old limit.
    unsigned SetLimit(unsigned limit);
    unsigned GetLimit();
    unsigned GetUsed();
    unsigned GetWaiting();
    // An event to wait on: already set when a place was free, else set when one becomes free.
    Event Acquire();
    void Release();

private:
    void WakeWaiters();  // lock held
    CRITICAL_SECTION lock_;
    unsigned used_ = 0;
    unsigned limit_;
    std::deque<Event> waiters_;
};

// A waitable handle with its own lock and an operation that arms it again.
class Monitor : public SyncObject {
public:
    Monitor() { InitializeCriticalSection(&lock_); }
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;
    ~Monitor() override { DeleteCriticalSection(&lock_); }
    bool IsValid() const override;
    virtual HANDLE GetHandle() const;
    virtual void Close();
    virtual void Rearm() = 0;

protected:
    mutable CRITICAL_SECTION lock_;
};

// Turns changes of a registry key into a waitable handle. Nothing here raises: a key that cannot
// be opened leaves the handle signalled and the monitor not valid.
class RegKeyChangeMonitor : public Monitor {
public:
    // Watches root\subkey, or root itself when `subkey` is null. `filter` is a REG_NOTIFY_CHANGE_* mask.
    RegKeyChangeMonitor(HKEY root, const char* subkey, bool watchSubtree, DWORD filter);
    RegKeyChangeMonitor(HKEY root, const wchar_t* subkey, bool watchSubtree, DWORD filter);
    ~RegKeyChangeMonitor() override;
    bool IsValid() const override;
    HANDLE GetHandle() const override;
    void Close() override;
    // Resets the handle and registers for the next change; a failed registration sets the handle.
    void Rearm() override;

private:
    RegKeyChangeMonitor(bool watchSubtree, DWORD filter);
    void Watch(HKEY opened, LONG openResult);
    RegKey key_;
    Event event_;
    bool watchSubtree_;
    DWORD filter_;
};

}  // namespace MTSys

#include "MTSys/MessageQueue.h"
