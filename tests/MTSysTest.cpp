#include "MTSys/MTSys.h"
#include "MTSys/PoolWaitCallback.h"
#include "Framework/Com.h"
#include "tests/RegistryFixture.h"
#include <gtest/gtest.h>
#include <atomic>
#include <vector>

using namespace MTSys;

namespace {

constexpr DWORD kGenerous = 10000;  // ms; only ever a bound on "completed at all"

bool IsSet(HANDLE handle) { return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0; }

// A message-only window that counts the messages it is sent.
class CountingWindow {
public:
    CountingWindow() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"MTSysTestWindow";
        RegisterClassW(&wc);
        hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, LONG_PTR(this));
    }
    ~CountingWindow() { DestroyWindow(hwnd_); }
    HWND hwnd() const { return hwnd_; }
    // Posted messages of `message` waiting in this thread's queue, taken out.
    int TakePosted(UINT message) {
        int count = 0;
        MSG msg;
        while (PeekMessageW(&msg, hwnd_, message, message, PM_REMOVE)) ++count;
        return count;
    }
    std::vector<std::pair<WPARAM, LPARAM>> sent;
    DWORD senderThread = 0;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp) {
        if (message == WM_APP + 7) {
            auto* self = reinterpret_cast<CountingWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            self->sent.emplace_back(wp, lp);
            self->senderThread = GetCurrentThreadId();
            return 0;
        }
        return DefWindowProcW(hwnd, message, wp, lp);
    }
    HWND hwnd_;
};

}  // namespace

// ---- handles and events ----

TEST(MTSysHandle, CopyDuplicatesTheKernelObject) {
    Event original(true, false);
    Event copy(original);
    ASSERT_TRUE(copy.IsValid());
    EXPECT_NE(copy.Get(), original.Get());
    copy.Set();
    EXPECT_TRUE(original.Wait());
    original.Reset();
    EXPECT_FALSE(copy.Wait());

    SyncObject empty;
    SyncObject emptyCopy(empty);
    EXPECT_FALSE(emptyCopy.IsValid());
    EXPECT_FALSE(emptyCopy.Wait(0));  // a failed wait is false, not an exception
}

TEST(MTSysHandle, AutoResetEventWakesOneWait) {
    Event event(false, true);
    EXPECT_TRUE(event.Wait());
    EXPECT_FALSE(event.Wait());
}

TEST(MTSysHandle, FailedCallRaisesWindowsErrorWithSourcePosition) {
    Thread never;
    try {
        never.Resume();
        FAIL() << "Resume of a thread that was never started succeeded";
    } catch (const WindowsError& e) {
        EXPECT_EQ(e.Code(), DWORD(ERROR_INVALID_HANDLE));
        EXPECT_NE(e.Reason().find("\"Shared/MTSys/MTSys\":"), std::string::npos) << e.Reason();
    }
}

static unsigned __stdcall ExitWithArgument(void* argument) { return unsigned(uintptr_t(argument)); }

TEST(MTSysThread, StartsSuspendedRunsAndReportsItsExitCode) {
    Thread thread;
    unsigned id = thread.Start(&ExitWithArgument, reinterpret_cast<void*>(uintptr_t(42)), true);
    EXPECT_NE(id, 0u);
    EXPECT_FALSE(thread.Wait(50));
    EXPECT_EQ(thread.GetExitCode(), DWORD(STILL_ACTIVE));
    EXPECT_EQ(thread.Resume(), 1u);  // previous suspend count; 0-counts are no failure either
    ASSERT_TRUE(thread.Wait(kGenerous));
    EXPECT_EQ(thread.GetExitCode(), 42u);
    // A second start replaces the first handle.
    thread.Start(&ExitWithArgument, reinterpret_cast<void*>(uintptr_t(7)));
    ASSERT_TRUE(thread.Wait(kGenerous));
    EXPECT_EQ(thread.GetExitCode(), 7u);
}

TEST(MTSysTimer, FiresAndCancels) {
    Timer timer(true);
    timer.Set(-10000);  // 1 ms from now
    EXPECT_TRUE(timer.Wait(kGenerous));
    timer.Set(-36000000000LL);  // an hour away
    timer.Cancel();
    EXPECT_FALSE(timer.Wait(0));
}

// ---- CountLimiter ----

TEST(MTSysCountLimiter, LimitOneHandsOverOnRelease) {
    CountLimiter limiter(1);
    Event first = limiter.Acquire();
    Event second = limiter.Acquire();
    EXPECT_TRUE(first.Wait());
    EXPECT_FALSE(second.Wait());
    EXPECT_EQ(limiter.GetUsed(), 1u);
    EXPECT_EQ(limiter.GetWaiting(), 1u);
    limiter.Release();
    EXPECT_TRUE(second.Wait());
    EXPECT_EQ(limiter.GetUsed(), 1u);
    EXPECT_EQ(limiter.GetWaiting(), 0u);
    limiter.Release();
    EXPECT_EQ(limiter.GetUsed(), 0u);
    EXPECT_THROW(limiter.Release(), InternalError);
}

TEST(MTSysCountLimiter, WakesInArrivalOrder) {
    CountLimiter limiter(1);
    Event holder = limiter.Acquire();
    std::vector<Event> waiters;
    for (int i = 0; i < 3; ++i) waiters.push_back(limiter.Acquire());
    for (int woken = 0; woken < 3; ++woken) {
        limiter.Release();
        for (int i = 0; i < 3; ++i) EXPECT_EQ(waiters[i].Wait(), i <= woken) << "after release " << woken << ", waiter " << i;
    }
}

TEST(MTSysCountLimiter, SetLimitWakesWaitersAsRoomAllows) {
    struct Case {
        unsigned from, held, to;  // limit, places taken before the waiters came, new limit
        int woken;                // of two waiters
    };
    for (const Case& c : {Case{1, 1, 3, 2}, Case{1, 1, 2, 1}, Case{1, 1, 1, 0},
                          // lowered while full, then raised by one: still no room
                          Case{3, 3, 2, 0}}) {
        CountLimiter limiter(c.from);
        std::vector<Event> held;
        for (unsigned i = 0; i < c.held; ++i) held.push_back(limiter.Acquire());
        if (c.from == 3) limiter.SetLimit(1);
        Event a = limiter.Acquire(), b = limiter.Acquire();
        EXPECT_EQ(limiter.SetLimit(c.to), c.from == 3 ? 1u : c.from);
        EXPECT_EQ(limiter.GetLimit(), c.to);
        EXPECT_EQ(a.Wait(), c.woken >= 1) << c.from << "->" << c.to;
        EXPECT_EQ(b.Wait(), c.woken >= 2) << c.from << "->" << c.to;
        EXPECT_EQ(limiter.GetWaiting(), unsigned(2 - c.woken));
    }
}

TEST(MTSysCountLimiter, DestructionReleasesRemainingWaiters) {
    std::unique_ptr<Event> waiter;
    {
        CountLimiter limiter(0);
        waiter = std::make_unique<Event>(limiter.Acquire());
        EXPECT_FALSE(waiter->Wait());
    }
    EXPECT_TRUE(waiter->Wait());
}

// ---- MessageQueue ----

TEST(MTSysMessageQueue, NotifiesOnlyForTheFirstItemIntoAnEmptyQueue) {
    CountingWindow window;
    ASSERT_TRUE(window.hwnd());
    const UINT kArrived = WM_APP + 1;
    MessageQueue<int> queue;
    queue.SetNotify(window.hwnd(), kArrived);
    EXPECT_FALSE(IsSet(queue.GetEvent()));

    for (int i = 1; i <= 3; ++i) queue.Put(std::make_unique<int>(i));
    EXPECT_EQ(window.TakePosted(kArrived), 1);
    EXPECT_TRUE(IsSet(queue.GetEvent()));

    EXPECT_EQ(*queue.Get(), 1);
    queue.Put(std::make_unique<int>(4));  // not empty before: no message
    EXPECT_EQ(window.TakePosted(kArrived), 0);
    for (int expected : {2, 3, 4}) {
        EXPECT_TRUE(IsSet(queue.GetEvent()));
        EXPECT_EQ(*queue.Get(), expected);
    }
    EXPECT_FALSE(IsSet(queue.GetEvent()));
    EXPECT_EQ(queue.Get(), nullptr);

    queue.Put(std::make_unique<int>(5));  // empty again: notified again
    EXPECT_EQ(window.TakePosted(kArrived), 1);
    queue.Clear();
    EXPECT_FALSE(IsSet(queue.GetEvent()));
    EXPECT_EQ(queue.Get(), nullptr);

    queue.SetNotify(window.hwnd(), 0);  // message 0 posts nothing
    queue.Put(std::make_unique<int>(6));
    EXPECT_EQ(window.TakePosted(kArrived), 0);
    queue.Clear();
    HWND gone = CreateWindowExW(0, L"MTSysTestWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    DestroyWindow(gone);
    queue.SetNotify(gone, kArrived);  // a window that no longer exists is skipped
    queue.Put(std::make_unique<int>(7));
    EXPECT_TRUE(IsSet(queue.GetEvent()));
}

// ---- timer queues: deletion waits for a running callback ----

namespace {
struct SlowCallback {
    Event started{true, false};
    std::atomic<int> calls{0};
    std::atomic<bool> finished{false};
    static void CALLBACK Run(void* context, BOOLEAN) {
        auto* self = static_cast<SlowCallback*>(context);
        ++self->calls;
        self->finished = false;
        SetEvent(self->started.Get());
        Sleep(150);
        self->finished = true;
    }
};
}  // namespace

TEST(MTSysTimerQueue, DestructorReturnsOnlyAfterTheRunningCallback) {
    SlowCallback slow;
    auto queue = std::make_unique<TimerQueue>();
    auto timer = queue->CreateTimer(&SlowCallback::Run, &slow, 0);
    ASSERT_TRUE(slow.started.Wait(kGenerous));
    timer.reset();
    EXPECT_TRUE(slow.finished);
    slow.started.Reset();
    auto periodic = queue->CreateTimer(&SlowCallback::Run, &slow, 0, 20);
    ASSERT_TRUE(slow.started.Wait(kGenerous));
    queue.reset();  // deletes the periodic timer too
    EXPECT_TRUE(slow.finished);
    EXPECT_TRUE(periodic->Cancel().Wait());
}

TEST(MTSysTimerQueue, DeleteReturnsAnEventAndLeavesTimersNothingToCancel) {
    SlowCallback slow;
    TimerQueue queue;
    auto timer = queue.CreateTimer(&SlowCallback::Run, &slow, 0);
    ASSERT_TRUE(slow.started.Wait(kGenerous));
    Event done = queue.Delete();
    EXPECT_TRUE(done.Wait(kGenerous));
    EXPECT_TRUE(slow.finished);
    EXPECT_FALSE(queue.IsValid());
    EXPECT_TRUE(queue.Delete().Wait());  // already deleted: set at once
    EXPECT_TRUE(timer->Cancel().Wait());
    EXPECT_FALSE(timer->IsValid());
    EXPECT_THROW(queue.CreateTimer(&SlowCallback::Run, &slow, 0), WindowsError);
}

TEST(MTSysTimerQueue, CancelledTimerCallsNoMore) {
    SlowCallback slow;
    TimerQueue queue;
    auto timer = queue.CreateTimer(&SlowCallback::Run, &slow, 0, 10);
    ASSERT_TRUE(slow.started.Wait(kGenerous));
    EXPECT_TRUE(timer->Cancel().Wait(kGenerous));
    EXPECT_TRUE(slow.finished);
    int calls = slow.calls;
    Sleep(60);
    EXPECT_EQ(slow.calls, calls);
}

// ---- wait callbacks ----

namespace {
// Counts callbacks; each one takes a while, so a Release that did not wait would be seen.
template <class Base> struct SlowWait : Base {
    template <class... A> SlowWait(A&&... a) : Base(std::forward<A>(a)...) {}
    ~SlowWait() override { this->Release(); }
    void OnSignal(bool timedOut) override {
        inside = true;
        ++calls;
        lastTimedOut = timedOut;
        SetEvent(entered.Get());
        if (releaseInside) this->Release();
        Sleep(pause);
        inside = false;
    }
    Event entered{true, false};
    std::atomic<bool> inside{false};
    std::atomic<int> calls{0};
    std::atomic<bool> lastTimedOut{false};
    bool releaseInside = false;
    DWORD pause = 150;
};

struct NamespaceWait : MTSys::WaitCallback {
    NamespaceWait(const SyncObject& object, DWORD ms, ULONG flags) : MTSys::WaitCallback(object, ms, flags) {}
    void Begin() { Start(); }
};
using SlowNamespaceWait = SlowWait<NamespaceWait>;
using SlowPoolWait = SlowWait<::WaitCallback>;
}  // namespace

// Release comes while a callback sleeps and another signal is pending: it returns only once no
// callback runs, and none starts after it.
template <class Wait> void ExpectReleaseWaitsForTheRunningCallback(Wait& wait, Event& watched) {
    watched.Set();
    ASSERT_TRUE(wait.entered.Wait(kGenerous));
    watched.Set();
    Sleep(20);
    wait.Release();
    EXPECT_FALSE(wait.inside);
    int calls = wait.calls;
    watched.Set();
    Sleep(60);
    EXPECT_EQ(wait.calls, calls);
    EXPECT_FALSE(wait.lastTimedOut);
    wait.Release();  // nothing registered: returns at once
}

TEST(MTSysWaitCallback, ReleaseWaitsForTheRunningCallback) {
    {
        Event watched(false, false);
        SlowNamespaceWait wait(watched, INFINITE, WT_EXECUTEDEFAULT);
        wait.Begin();
        ExpectReleaseWaitsForTheRunningCallback(wait, watched);
    }
    {
        Event watched(false, false);
        SlowPoolWait wait(watched.Get());
        ASSERT_TRUE(wait.Register(WT_EXECUTEDEFAULT, INFINITE));
        ExpectReleaseWaitsForTheRunningCallback(wait, watched);
    }
}

TEST(MTSysWaitCallback, DestructionWaitsForTheRunningCallback) {
    Event watched(true, true);
    auto wait = std::make_unique<SlowPoolWait>(watched);
    ASSERT_TRUE(wait->Register(WT_EXECUTEONLYONCE, INFINITE));
    ASSERT_TRUE(wait->entered.Wait(kGenerous));
    std::atomic<bool>* inside = &wait->inside;
    EXPECT_TRUE(*inside);
    // Destroying while the callback sleeps must not free it under its feet.
    wait.reset();
}

TEST(MTSysWaitCallback, TimeOutIsReported) {
    Event never(true, false);
    SlowPoolWait wait(never);
    wait.pause = 0;
    ASSERT_TRUE(wait.Register(WT_EXECUTEONLYONCE, 20));
    ASSERT_TRUE(wait.entered.Wait(kGenerous));
    EXPECT_TRUE(wait.lastTimedOut);
}

TEST(MTSysWaitCallback, ReleaseFromInsideTheCallbackDoesNotHang) {
    Event watched(true, true);
    SlowPoolWait wait(watched);
    wait.releaseInside = true;
    wait.pause = 0;
    ASSERT_TRUE(wait.Register(WT_EXECUTEDEFAULT, INFINITE));
    ASSERT_TRUE(wait.entered.Wait(kGenerous));
    wait.Release();
    EXPECT_EQ(wait.calls, 1);
}

TEST(MTSysWaitCallback, RegisterFailsOnANullObject) {
    SlowPoolWait wait(HANDLE(nullptr));
    EXPECT_FALSE(wait.Register(WT_EXECUTEONLYONCE, INFINITE));
    SyncObject none;
    EXPECT_THROW(SlowNamespaceWait(none, INFINITE, 0).Begin(), WindowsError);
}

TEST(MTSysSyncJoint, SetsTheTargetWhenTheWatchedObjectIsSignalled) {
    Event watched(true, false), target(true, false);
    SyncJoint joint(watched, target);
    EXPECT_FALSE(target.Wait(0));
    watched.Set();
    EXPECT_TRUE(target.Wait(kGenerous));
}

TEST(MTSysSendOnSignal, SendsOnceFromThePool) {
    CountingWindow window;
    Event watched(true, false);
    ASSERT_TRUE(SendOnSignal(watched.Get(), window.hwnd(), WM_APP + 7, 11, 22));
    watched.Set();
    // The send blocks until this thread takes it out of its queue.
    DWORD start = GetTickCount();
    while (window.sent.empty() && GetTickCount() - start < kGenerous) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    ASSERT_EQ(window.sent.size(), 1u);
    EXPECT_EQ(window.sent[0], std::make_pair(WPARAM(11), LPARAM(22)));
    EXPECT_NE(window.senderThread, 0u);
    EXPECT_FALSE(SendOnSignal(nullptr, window.hwnd(), WM_APP + 7, 0, 0));
}

// ---- registry change monitor ----

class MTSysRegMonitor : public RegistryTest {
protected:
    void Write(const wchar_t* path, DWORD value) {
        RegKey key(HKEY_LOCAL_MACHINE, path, true, kRegWriteAccess);
        ASSERT_TRUE(key.IsOpen());
        key[L"Value"] = value;
    }
};

TEST_F(MTSysRegMonitor, MissingKeyIsSignalledAndNotValid) {
    RegKeyChangeMonitor monitor(HKEY_LOCAL_MACHINE, "No\\Such\\Key", true, REG_NOTIFY_CHANGE_LAST_SET);
    EXPECT_FALSE(monitor.IsValid());
    ASSERT_TRUE(monitor.GetHandle());
    EXPECT_TRUE(IsSet(monitor.GetHandle()));
    RegKeyChangeMonitor none(nullptr, static_cast<const char*>(nullptr), false, REG_NOTIFY_CHANGE_LAST_SET);
    EXPECT_FALSE(none.IsValid());
    EXPECT_TRUE(IsSet(none.GetHandle()));
}

TEST_F(MTSysRegMonitor, ValueChangeBelowSubtreeSignalsOnceUntilRearm) {
    Write(L"Watched\\Below", 1);
    RegKeyChangeMonitor monitor(HKEY_LOCAL_MACHINE, "Watched", true, REG_NOTIFY_CHANGE_LAST_SET);
    ASSERT_TRUE(monitor.IsValid());
    EXPECT_FALSE(IsSet(monitor.GetHandle()));

    Write(L"Watched\\Below", 2);
    ASSERT_EQ(WaitForSingleObject(monitor.GetHandle(), kGenerous), WAIT_OBJECT_0);
    Write(L"Watched\\Below", 3);  // before Rearm: covered by the notification already given
    EXPECT_TRUE(IsSet(monitor.GetHandle()));
    monitor.Rearm();
    EXPECT_FALSE(IsSet(monitor.GetHandle()));

    Write(L"Watched\\Below", 4);
    EXPECT_EQ(WaitForSingleObject(monitor.GetHandle(), kGenerous), WAIT_OBJECT_0);
}

TEST_F(MTSysRegMonitor, WideNameAndRootOnly) {
    Write(L"Root", 1);
    RegKey root(HKEY_LOCAL_MACHINE, L"Root", false, kRegReadAccess);
    RegKeyChangeMonitor monitor(root.Handle(), static_cast<const wchar_t*>(nullptr), false, REG_NOTIFY_CHANGE_LAST_SET);
    root.Close();  // the monitor keeps a handle of its own
    ASSERT_TRUE(monitor.IsValid());
    EXPECT_FALSE(IsSet(monitor.GetHandle()));
    Write(L"Root", 2);
    EXPECT_EQ(WaitForSingleObject(monitor.GetHandle(), kGenerous), WAIT_OBJECT_0);

    RegKeyChangeMonitor wide(HKEY_LOCAL_MACHINE, L"Root", false, REG_NOTIFY_CHANGE_LAST_SET);
    EXPECT_TRUE(wide.IsValid());
    EXPECT_FALSE(IsSet(wide.GetHandle()));
}

TEST_F(MTSysRegMonitor, AfterCloseNotValidAndRearmSetsTheEvent) {
    Write(L"Watched", 1);
    RegKeyChangeMonitor monitor(HKEY_LOCAL_MACHINE, "Watched", true, REG_NOTIFY_CHANGE_LAST_SET);
    ASSERT_TRUE(monitor.IsValid());
    // A waiter's own copy of the handle outlives Close.
    SyncObject waiter(DuplicateProcessHandle(monitor.GetHandle()));
    monitor.Close();
    EXPECT_FALSE(monitor.IsValid());
    EXPECT_EQ(monitor.GetHandle(), nullptr);
    ResetEvent(waiter.Get());
    monitor.Rearm();
    EXPECT_TRUE(waiter.Wait());
    monitor.Close();  // twice is harmless
}

TEST_F(MTSysRegMonitor, PoolWaitOnTheMonitorFiresOnChange) {
    Write(L"Watched", 1);
    auto monitor = std::make_shared<RegKeyChangeMonitor>(HKEY_LOCAL_MACHINE, "Watched", true, REG_NOTIFY_CHANGE_LAST_SET);
    SlowPoolWait wait(monitor->GetHandle());
    wait.pause = 0;
    ASSERT_TRUE(wait.Register(WT_EXECUTEONLYONCE, INFINITE));
    Write(L"Watched", 2);
    ASSERT_TRUE(wait.entered.Wait(kGenerous));
    EXPECT_FALSE(wait.lastTimedOut);
}
