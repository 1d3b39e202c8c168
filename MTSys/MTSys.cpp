#include "MTSys/MTSys.h"
#include "Framework/Com.h"
#include <process.h>
#include <algorithm>

namespace MTSys {

// ---- Handle ----

Handle::Handle(const Handle& other) : handle_(DuplicateProcessHandle(other.handle_)) {}

Handle& Handle::operator=(const Handle& other) {
    if (this != &other) Reset(DuplicateProcessHandle(other.handle_));
    return *this;
}

Handle& Handle::operator=(Handle&& other) noexcept {
    if (this != &other) {
        Reset(other.handle_);
        other.handle_ = nullptr;
    }
    return *this;
}

Handle::~Handle() { Reset(); }

HANDLE Handle::Detach() noexcept {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
}

void Handle::Reset(HANDLE owned) noexcept {
    if (handle_ && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = owned;
}

bool SyncObject::Wait(DWORD ms) const {
    DWORD result = WaitForSingleObject(handle_, ms);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

// ---- Event ----

Event::Event(bool manualReset, bool initialState)
    : SyncObject(CreateEventA(nullptr, manualReset, initialState, nullptr)) {
    MTSYS_CHECK(handle_);
}

void Event::Set() { MTSYS_CHECK(SetEvent(handle_)); }
void Event::Reset() { MTSYS_CHECK(ResetEvent(handle_)); }
void Event::Pulse() { MTSYS_CHECK(PulseEvent(handle_)); }

// ---- Thread ----

unsigned Thread::Start(StartAddress start, void* argument, bool suspended, unsigned stackSize,
                       SECURITY_ATTRIBUTES* security) {
    Reset();
    unsigned id = 0;
    uintptr_t thread = _beginthreadex(security, stackSize, start, argument, suspended ? CREATE_SUSPENDED : 0, &id);
    MTSYS_CHECK(thread != 0);
    handle_ = reinterpret_cast<HANDLE>(thread);
    return id;
}

// Suspend counts may be 0, so these two fail on (DWORD)-1 only.
DWORD Thread::Suspend() {
    DWORD previous = SuspendThread(handle_);
    MTSYS_CHECK(previous != DWORD(-1));
    return previous;
}

DWORD Thread::Resume() {
    DWORD previous = ResumeThread(handle_);
    MTSYS_CHECK(previous != DWORD(-1));
    return previous;
}

void Thread::Terminate(DWORD exitCode) { MTSYS_CHECK(TerminateThread(handle_, exitCode)); }

DWORD Thread::GetExitCode() const {
    DWORD code = 0;
    MTSYS_CHECK(GetExitCodeThread(handle_, &code));
    return code;
}

// ---- Timer ----

Timer::Timer(bool manualReset) : SyncObject(CreateWaitableTimerA(nullptr, manualReset, nullptr)) {
    MTSYS_CHECK(handle_);
}

void Timer::Set(LONGLONG dueTime, LONG period) {
    LARGE_INTEGER due;
    due.QuadPart = dueTime;
    MTSYS_CHECK(SetWaitableTimer(handle_, &due, period, nullptr, nullptr, FALSE));
}

void Timer::Cancel() { MTSYS_CHECK(CancelWaitableTimer(handle_)); }

// ---- TimerQueue ----

namespace {
// Both deletions complete asynchronously: success and ERROR_IO_PENDING alike leave the completion
// to the event. The original is kept by the owner, so the system never sets a closed handle.
Event Completion(std::unique_ptr<Event>& keep, BOOL deleted, DWORD error, int line) {
    if (!deleted && error != ERROR_IO_PENDING) {
        keep->Set();
        throw WindowsError(error, kSourcePath, line);
    }
    return *keep;
}

void WaitQuietly(const std::unique_ptr<Event>& done) noexcept {
    if (done) done->Wait(INFINITE);
}
}  // namespace

TimerQueue::TimerQueue() : queue_(CreateTimerQueue()), alive_(std::make_shared<bool>(true)) { MTSYS_CHECK(queue_); }

TimerQueue::~TimerQueue() {
    try {
        if (queue_) Delete();
    } catch (...) {
        // The queue is gone or unusable either way; nothing to wait for beyond what was started.
    }
    WaitQuietly(done_);
}

std::unique_ptr<TimerQueue::Timer> TimerQueue::CreateTimer(WAITORTIMERCALLBACK callback, void* parameter,
                                                           DWORD dueTime, DWORD period, ULONG flags) {
    if (!queue_) throw WindowsError(ERROR_INVALID_HANDLE, kSourcePath, __LINE__);
    HANDLE timer = nullptr;
    MTSYS_CHECK(CreateTimerQueueTimer(&timer, queue_, callback, parameter, dueTime, period, flags));
    return std::unique_ptr<Timer>(new Timer(queue_, timer, alive_));
}

Event TimerQueue::Delete() {
    if (!queue_) return Event(true, true);
    WaitQuietly(done_);
    done_ = std::make_unique<Event>(true, false);
    HANDLE queue = queue_;
    queue_ = nullptr;
    *alive_ = false;
    BOOL deleted = DeleteTimerQueueEx(queue, done_->Get());
    return Completion(done_, deleted, GetLastError(), __LINE__);
}

TimerQueue::Timer::~Timer() {
    try {
        if (timer_) Cancel();
    } catch (...) {
    }
    WaitQuietly(done_);
}

Event TimerQueue::Timer::Cancel() {
    if (timer_ && !*queueAlive_) timer_ = nullptr;  // deleted with its queue
    if (!timer_) return Event(true, true);
    WaitQuietly(done_);
    done_ = std::make_unique<Event>(true, false);
    HANDLE timer = timer_;
    timer_ = nullptr;
    BOOL deleted = DeleteTimerQueueTimer(queue_, timer, done_->Get());
    return Completion(done_, deleted, GetLastError(), __LINE__);
}

// ---- Thread-pool waits ----

namespace Detail {

struct PoolWait::Registration {
    Registration(PoolWait* pool, Work work, void* context) : pool(pool), work(work), context(context) {}
    PoolWait* pool;
    Work work;
    void* context;
    HANDLE wait = nullptr;
    Event done{true, false};  // set by the system once no callback of this registration runs
};

PoolWait::~PoolWait() {
    Unregister();
    DeleteCriticalSection(&lock_);
}

bool PoolWait::Register(HANDLE object, Work work, void* context, DWORD ms, ULONG flags) {
    Unregister();
    if (!object) return false;
    Lock guard(lock_);
    EndCurrent();  // registered by another thread meanwhile
    std::shared_ptr<Registration> registration;
    try {
        registration = std::make_shared<Registration>(this, work, context);
        // Room for its end, so that EndCurrent never allocates.
        ending_.reserve(ending_.size() + 1);
    } catch (...) {
        return false;
    }
    // A callback that fires at once waits for the lock, and then finds its registration in place.
    if (!RegisterWaitForSingleObject(&registration->wait, object, &Fire, registration.get(), ms, flags)) return false;
    current_ = std::move(registration);
    return true;
}

bool PoolWait::IsRegistered() {
    Lock guard(lock_);
    return current_ != nullptr;
}

void PoolWait::EndCurrent() {
    if (!current_) return;
    std::shared_ptr<Registration> ended = std::move(current_);
    current_.reset();
    // Success and ERROR_IO_PENDING alike leave the completion to the event; any other failure
    // means the system holds no such wait, so no callback of it will come.
    if (!UnregisterWaitEx(ended->wait, ended->done.Get()) && GetLastError() != ERROR_IO_PENDING)
        SetEvent(ended->done.Get());
    ending_.push_back(std::move(ended));
}

void PoolWait::Unregister() {
    EnterCriticalSection(&lock_);
    EndCurrent();
    if (runningThread_ == GetCurrentThreadId()) {
        // Waiting for our own callback would never end; the next Unregister from outside waits.
        LeaveCriticalSection(&lock_);
        return;
    }
    // Ours and every level the caller holds: a callback blocked on the lock must get in to finish.
    const LONG depth = lock_.RecursionCount;
    while (!ending_.empty()) {
        std::shared_ptr<Registration> next = ending_.front();
        for (LONG i = 0; i < depth; ++i) LeaveCriticalSection(&lock_);
        next->done.Wait(INFINITE);
        for (LONG i = 0; i < depth; ++i) EnterCriticalSection(&lock_);
        auto at = std::find(ending_.begin(), ending_.end(), next);
        if (at != ending_.end()) ending_.erase(at);
    }
    LeaveCriticalSection(&lock_);
}

void CALLBACK PoolWait::Fire(void* registration, BOOLEAN timedOut) {
    // The registration outlives its callbacks: it is dropped only once its completion event is set.
    auto* self = static_cast<Registration*>(registration);
    PoolWait& pool = *self->pool;
    EnterCriticalSection(&pool.lock_);
    if (pool.current_.get() == self) {
        DWORD outer = pool.runningThread_;
        pool.runningThread_ = GetCurrentThreadId();
        try {
            self->work(self->context, timedOut != FALSE);
        } catch (...) {
            OutputDebugStringA("MTSys: a wait callback raised an exception\n");
        }
        pool.runningThread_ = outer;
    }
    LeaveCriticalSection(&pool.lock_);
}

}  // namespace Detail

WaitCallback::WaitCallback(const SyncObject& object, DWORD ms, ULONG flags) : object_(object), ms_(ms), flags_(flags) {}

WaitCallback::~WaitCallback() { wait_.Unregister(); }

void WaitCallback::Start() {
    if (!object_.IsValid()) throw WindowsError(ERROR_INVALID_HANDLE, kSourcePath, __LINE__);
    MTSYS_CHECK(wait_.Register(object_.Get(), &Signal, this, ms_, flags_));
}

void WaitCallback::Release() { wait_.Unregister(); }

void WaitCallback::Signal(void* self, bool timedOut) { static_cast<WaitCallback*>(self)->OnSignal(timedOut); }

SyncJoint::SyncJoint(const SyncObject& watched, const Event& target, DWORD ms, ULONG flags)
    : WaitCallback(watched, ms, flags), target_(target) {
    Start();
}

SyncJoint::~SyncJoint() { Release(); }

void SyncJoint::OnSignal(bool) { target_.Set(); }

// ---- CountLimiter ----

CountLimiter::CountLimiter(unsigned limit) : limit_(limit) { InitializeCriticalSection(&lock_); }

CountLimiter::~CountLimiter() {
    for (Event& waiter : waiters_) SetEvent(waiter.Get());
    waiters_.clear();
    DeleteCriticalSection(&lock_);
}

void CountLimiter::WakeWaiters() {
    while (used_ < limit_ && !waiters_.empty()) {
        waiters_.front().Set();
        waiters_.pop_front();
        ++used_;
    }
}

unsigned CountLimiter::SetLimit(unsigned limit) {
    Lock guard(lock_);
    unsigned old = limit_;
    limit_ = limit;
    // Wake only as many as the new limit leaves room for: places still held after a lowering count.
    WakeWaiters();
    return old;
}

unsigned CountLimiter::GetLimit() {
    Lock guard(lock_);
    return limit_;
}

unsigned CountLimiter::GetUsed() {
    Lock guard(lock_);
    return used_;
}

unsigned CountLimiter::GetWaiting() {
    Lock guard(lock_);
    return unsigned(waiters_.size());
}

Event CountLimiter::Acquire() {
    Lock guard(lock_);
    if (used_ < limit_) {
        ++used_;
        return Event(true, true);
    }
    waiters_.emplace_back(true, false);
    return waiters_.back();
}

void CountLimiter::Release() {
    Lock guard(lock_);
    if (used_ == 0) throw InternalError("CountLimiter::Release without a matching Acquire");
    --used_;
    WakeWaiters();
}

// ---- Monitor ----

bool Monitor::IsValid() const {
    Lock guard(lock_);
    return handle_ != nullptr;
}

HANDLE Monitor::GetHandle() const {
    Lock guard(lock_);
    return handle_;
}

void Monitor::Close() {
    Lock guard(lock_);
    Reset();
}

// ---- RegKeyChangeMonitor ----

RegKeyChangeMonitor::RegKeyChangeMonitor(bool watchSubtree, DWORD filter)
    : event_(true, false), watchSubtree_(watchSubtree), filter_(filter) {
    Lock guard(lock_);
    Reset(DuplicateProcessHandle(event_.Get()));
}

RegKeyChangeMonitor::RegKeyChangeMonitor(HKEY root, const char* subkey, bool watchSubtree, DWORD filter)
    : RegKeyChangeMonitor(watchSubtree, filter) {
    HKEY opened = nullptr;
    // Without a subkey the holder still gets a handle of its own to the root.
    LONG result = root ? RegOpenKeyExA(root, subkey, 0, KEY_NOTIFY, &opened) : ERROR_INVALID_HANDLE;
    Watch(opened, result);
}

RegKeyChangeMonitor::RegKeyChangeMonitor(HKEY root, const wchar_t* subkey, bool watchSubtree, DWORD filter)
    : RegKeyChangeMonitor(watchSubtree, filter) {
    HKEY opened = nullptr;
    LONG result = root ? RegOpenKeyExW(root, subkey, 0, KEY_NOTIFY, &opened) : ERROR_INVALID_HANDLE;
    Watch(opened, result);
}

void RegKeyChangeMonitor::Watch(HKEY opened, LONG openResult) {
    if (openResult != ERROR_SUCCESS || !opened) {
        // Waiters wake at once and find the monitor not valid.
        SetEvent(event_.Get());
        return;
    }
    {
        Lock guard(lock_);
        key_ = RegKey(opened);
    }
    Rearm();
}

RegKeyChangeMonitor::~RegKeyChangeMonitor() { Close(); }

bool RegKeyChangeMonitor::IsValid() const {
    Lock guard(lock_);
    return key_.IsOpen() && handle_ != nullptr;
}

HANDLE RegKeyChangeMonitor::GetHandle() const { return Monitor::GetHandle(); }

void RegKeyChangeMonitor::Close() {
    Lock guard(lock_);
    key_.Close();
    Reset();
}

void RegKeyChangeMonitor::Rearm() {
    Lock guard(lock_);
    ResetEvent(event_.Get());
    LONG result = ERROR_INVALID_HANDLE;
    if (key_.IsOpen()) {
        // A registration made by a pool thread must outlive it: the system may end that thread
        // at any time. Systems older than the flag refuse it; there it lives with its thread.
        result = RegNotifyChangeKeyValue(key_.Handle(), watchSubtree_, filter_ | REG_NOTIFY_THREAD_AGNOSTIC,
                                         event_.Get(), TRUE);
        if (result == ERROR_INVALID_PARAMETER)
            result = RegNotifyChangeKeyValue(key_.Handle(), watchSubtree_, filter_, event_.Get(), TRUE);
    }
    // A failed registration must not be waited on forever.
    if (result != ERROR_SUCCESS) SetEvent(event_.Get());
}

}  // namespace MTSys
