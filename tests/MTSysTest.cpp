#include "MTSys/MTSys.h"
#include "MTSys/PoolWaitCallback.h"
#include "Framework/Com.h"
#include "Harness/ProcessStats.h"
#include "tests/RegistryFixture.h"
#include <gtest/gtest.h>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace MTSys;

namespace {

constexpr DWORD kGenerous = 10000;  // ms; only ever a bound on "completed at all"
constexpr DWORD kStuck = 60000;     // ms; a thread of the test's that has not ended by then is stuck

// A thread the test started must end before the objects it uses go. One that has not come back
// within `ms` is deadlocked and cannot be ended; the process ends here with the reason, rather
// than leave it running on into the test's freed objects.
void JoinOrEnd(Thread& thread, DWORD ms, const char* what) {
    if (thread.Wait(ms)) return;
    std::fprintf(stderr, "MTSysTest: %s did not come back within %lu ms (deadlocked); the test process ends here\n",
                 what, static_cast<unsigned long>(ms));
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
}

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
        EXPECT_NE(e.Reason().find("\"MTSys/MTSys\":"), std::string::npos) << e.Reason();
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

// ---- callbacks held inside: deletion and release wait for them ----

namespace {

// Holds every callback that passes inside until opened, so that a callback is known to run while
// the test deletes or releases what called it.
struct Gate {
    Event entered{true, false};
    Event open{true, false};
    std::atomic<int> calls{0}, running{0};
    std::atomic<bool> lastTimedOut{false};
    void Pass(bool timedOut) {
        ++running;
        ++calls;
        lastTimedOut = timedOut;
        entered.Set();
        open.Wait(kGenerous);
        --running;
    }
    static void CALLBACK Timer(void* context, BOOLEAN) { static_cast<Gate*>(context)->Pass(false); }
};

// Runs `call` on a thread of its own while a callback is held in `gate`, then opens the gate and
// waits for `call` to come back.
struct HeldCall {
    bool cameBackEarly = false;  // while the callback was still held
    int runningOnReturn = -1;    // callbacks running when it came back
};
HeldCall CallWhileHeld(Gate& gate, std::function<void()> call) {
    struct Context {
        std::function<void()> call;
        Gate* gate;
        HeldCall result;
        static unsigned __stdcall Run(void* context) {
            auto* self = static_cast<Context*>(context);
            self->call();
            self->result.runningOnReturn = self->gate->running;
            return 0;
        }
    } context{std::move(call), &gate, {}};
    EXPECT_GT(gate.running, 0) << "no callback is held";
    Thread thread;
    thread.Start(&Context::Run, &context);
    // The window only gives a call that does not wait the chance to come back early; a correct
    // one never does, so it never decides a pass.
    context.result.cameBackEarly = thread.Wait(100);
    gate.open.Set();
    JoinOrEnd(thread, kStuck, "a call made while a callback was held");
    return context.result;
}

// `release` must not come back before the held callback is let go, and once back no callback runs.
void ExpectReleaseWaitsForTheGate(Gate& gate, std::function<void()> release) {
    HeldCall result = CallWhileHeld(gate, std::move(release));
    EXPECT_FALSE(result.cameBackEarly) << "came back while a callback ran";
    EXPECT_EQ(result.runningOnReturn, 0);
}

// Counts its calls and signals each; shows that the pool has moved on since a point in time.
struct Witness {
    Event called{false, false};
    static void CALLBACK Timer(void* context, BOOLEAN) { SetEvent(static_cast<Witness*>(context)->called.Get()); }
};

}  // namespace

TEST(MTSysTimerQueue, DestructorReturnsOnlyAfterTheRunningCallback) {
    Gate gate;
    auto queue = std::make_unique<TimerQueue>();
    auto timer = queue->CreateTimer(&Gate::Timer, &gate, 0);
    ASSERT_TRUE(gate.entered.Wait(kGenerous));
    ExpectReleaseWaitsForTheGate(gate, [&] { timer.reset(); });

    Gate periodicGate;
    auto periodic = queue->CreateTimer(&Gate::Timer, &periodicGate, 0, 20);
    ASSERT_TRUE(periodicGate.entered.Wait(kGenerous));
    ExpectReleaseWaitsForTheGate(periodicGate, [&] { queue.reset(); });  // deletes the periodic timer too
    EXPECT_TRUE(periodic->Cancel().Wait());
}

TEST(MTSysTimerQueue, DeleteReturnsAnEventAndLeavesTimersNothingToCancel) {
    Gate gate;
    TimerQueue queue;
    auto timer = queue.CreateTimer(&Gate::Timer, &gate, 0);
    ASSERT_TRUE(gate.entered.Wait(kGenerous));
    // Delete may or may not block; either way its event is set only once no callback runs.
    std::unique_ptr<Event> done;
    bool setWhileRunning = false;
    CallWhileHeld(gate, [&] {
        done = std::make_unique<Event>(queue.Delete());
        setWhileRunning = done->Wait() && gate.running > 0;
    });
    EXPECT_FALSE(setWhileRunning);
    ASSERT_TRUE(done);
    EXPECT_TRUE(done->Wait(kGenerous));
    EXPECT_EQ(gate.running, 0);
    EXPECT_FALSE(queue.IsValid());
    EXPECT_TRUE(queue.Delete().Wait());  // already deleted: set at once
    EXPECT_TRUE(timer->Cancel().Wait());
    EXPECT_FALSE(timer->IsValid());
    EXPECT_THROW(queue.CreateTimer(&Gate::Timer, &gate, 0), WindowsError);
}

TEST(MTSysTimerQueue, CancelledTimerCallsNoMore) {
    Gate gate;
    gate.open.Set();
    TimerQueue queue;
    auto timer = queue.CreateTimer(&Gate::Timer, &gate, 0, 10);
    ASSERT_TRUE(gate.entered.Wait(kGenerous));
    EXPECT_TRUE(timer->Cancel().Wait(kGenerous));
    EXPECT_EQ(gate.running, 0);
    int calls = gate.calls;
    // A timer of the same period on the same queue fires three times: the cancelled one had its turns.
    Witness witness;
    auto other = queue.CreateTimer(&Witness::Timer, &witness, 10, 10);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(witness.called.Wait(kGenerous));
    EXPECT_EQ(gate.calls, calls);
}

// ---- wait callbacks ----

namespace {
// Passes each signal through the gate.
template <class Base> struct GatedWait : Base {
    template <class... A> GatedWait(Gate& gate, A&&... a) : Base(std::forward<A>(a)...), gate(gate) {}
    ~GatedWait() override { this->Release(); }
    void OnSignal(bool timedOut) override {
        if (releaseInside) this->Release();
        gate.Pass(timedOut);
    }
    Gate& gate;
    bool releaseInside = false;
};

struct NamespaceWait : MTSys::WaitCallback {
    NamespaceWait(const SyncObject& object, DWORD ms, ULONG flags) : MTSys::WaitCallback(object, ms, flags) {}
    void Begin() { Start(); }
};
using GatedNamespaceWait = GatedWait<NamespaceWait>;
using GatedPoolWait = GatedWait<::WaitCallback>;
}  // namespace

// Release comes while a callback runs and another signal is pending: it returns only once no
// callback runs, and none starts after it.
template <class Wait> void ExpectReleaseWaitsForTheRunningCallback(Gate& gate, Wait& wait, Event& watched) {
    watched.Set();
    ASSERT_TRUE(gate.entered.Wait(kGenerous));
    watched.Set();
    ExpectReleaseWaitsForTheGate(gate, [&] { wait.Release(); });
    int calls = gate.calls;
    watched.Set();
    // Another wait of the pool sees its signal: the released one had its chance too.
    Gate witnessGate;
    witnessGate.open.Set();
    Event other(false, false);
    GatedPoolWait witness(witnessGate, other.Get());
    ASSERT_TRUE(witness.Register(WT_EXECUTEONLYONCE, INFINITE));
    other.Set();
    ASSERT_TRUE(witnessGate.entered.Wait(kGenerous));
    EXPECT_EQ(gate.calls, calls);
    EXPECT_FALSE(gate.lastTimedOut);
    wait.Release();  // nothing registered: returns at once
}

TEST(MTSysWaitCallback, ReleaseWaitsForTheRunningCallback) {
    {
        Gate gate;
        Event watched(false, false);
        GatedNamespaceWait wait(gate, watched, INFINITE, WT_EXECUTEDEFAULT);
        wait.Begin();
        ExpectReleaseWaitsForTheRunningCallback(gate, wait, watched);
    }
    {
        Gate gate;
        Event watched(false, false);
        GatedPoolWait wait(gate, watched.Get());
        ASSERT_TRUE(wait.Register(WT_EXECUTEDEFAULT, INFINITE));
        ExpectReleaseWaitsForTheRunningCallback(gate, wait, watched);
    }
}

TEST(MTSysWaitCallback, DestructionWaitsForTheRunningCallback) {
    Gate gate;
    Event watched(true, true);
    auto wait = std::make_unique<GatedPoolWait>(gate, watched);
    ASSERT_TRUE(wait->Register(WT_EXECUTEONLYONCE, INFINITE));
    ASSERT_TRUE(gate.entered.Wait(kGenerous));
    // Destroying while the callback runs must not free it under its feet.
    ExpectReleaseWaitsForTheGate(gate, [&] { wait.reset(); });
}

TEST(MTSysWaitCallback, TimeOutIsReported) {
    Gate gate;
    gate.open.Set();
    Event never(true, false);
    GatedPoolWait wait(gate, never);
    ASSERT_TRUE(wait.Register(WT_EXECUTEONLYONCE, 20));
    ASSERT_TRUE(gate.entered.Wait(kGenerous));
    EXPECT_TRUE(gate.lastTimedOut);
}

TEST(MTSysWaitCallback, ReleaseFromInsideTheCallbackDoesNotHang) {
    Gate gate;
    gate.open.Set();
    Event watched(true, true);
    GatedPoolWait wait(gate, watched);
    wait.releaseInside = true;
    ASSERT_TRUE(wait.Register(WT_EXECUTEDEFAULT, INFINITE));
    ASSERT_TRUE(gate.entered.Wait(kGenerous));
    wait.Release();
    EXPECT_EQ(gate.calls, 1);
}

TEST(MTSysWaitCallback, RegisterFailsOnANullObject) {
    Gate gate;
    GatedPoolWait wait(gate, HANDLE(nullptr));
    EXPECT_FALSE(wait.Register(WT_EXECUTEONLYONCE, INFINITE));
    SyncObject none;
    EXPECT_THROW(GatedNamespaceWait(gate, none, INFINITE, 0).Begin(), WindowsError);
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
    Gate gate;
    gate.open.Set();
    GatedPoolWait wait(gate, monitor->GetHandle());
    ASSERT_TRUE(wait.Register(WT_EXECUTEONLYONCE, INFINITE));
    Write(L"Watched", 2);
    ASSERT_TRUE(gate.entered.Wait(kGenerous));
    EXPECT_FALSE(gate.lastTimedOut);
}

// ---- faults under teardown and load ----

namespace {

unsigned __stdcall RunFunction(void* function) {
    (*static_cast<std::function<void()>*>(function))();
    return 0;
}

// Runs `call` on a thread of its own and waits for it to come back (see JoinOrEnd).
void RunElsewhere(std::function<void()> call, DWORD ms, const char* what) {
    Thread thread;
    thread.Start(&RunFunction, &call);
    JoinOrEnd(thread, ms, what);
}

// Whether another thread finds the lock taken.
bool HeldElsewhere(CRITICAL_SECTION& lock) {
    bool entered = false;
    RunElsewhere(
        [&] {
            entered = TryEnterCriticalSection(&lock);
            if (entered) LeaveCriticalSection(&lock);
        },
        kStuck, "a try of the callback's lock");
    return !entered;
}

// Guards state of its own against OnSignal with the callback's lock, Release included.
struct LockingWait : ::WaitCallback {
    explicit LockingWait(HANDLE object) : ::WaitCallback(object) {}
    using ::WaitCallback::CallbackLock;
    ~LockingWait() override { Release(); }
    void OnSignal(bool) override { ++calls; }
    // Runs `meanwhile`, then Release, with the lock held; answers whether it was still held after.
    bool ReleaseHoldingTheLock(const std::function<void()>& meanwhile) {
        Lock guard(CallbackLock());
        meanwhile();
        Release();
        return HeldElsewhere(CallbackLock());
    }
    std::atomic<int> calls{0};
};

}  // namespace

TEST(MTSysWaitCallback, ReleaseHoldingTheCallbackLockLetsABlockedCallbackThrough) {
    Event watched(true, false);
    auto wait = std::make_unique<LockingWait>(watched.Get());
    // Its callback blocks on the lock held below.
    ASSERT_TRUE(wait->Register(WT_EXECUTEONLYONCE, INFINITE));
    bool heldAfter = false;
    RunElsewhere(
        [&] {
            heldAfter = wait->ReleaseHoldingTheLock([&] {
                watched.Set();
                Sleep(200);  // gives the callback the time to reach the lock
            });
        },
        kStuck, "Release with a callback waiting for the lock its caller held");
    EXPECT_TRUE(heldAfter) << "the caller's lock was not taken back";
    EXPECT_EQ(wait->calls, 0) << "a callback ran after Release";
    EXPECT_FALSE(HeldElsewhere(wait->CallbackLock()));
}

// The first callback ends the registration from inside; the event left set has queued more of
// them, and the object goes while they may still be on their way. They must not reach it.
template <class Wait>
void ExpectDestroyedAfterReleaseInside(const std::function<std::unique_ptr<Wait>(Gate&, const Event&)>& start) {
    for (int round = 0; round < 100; ++round) {
        Gate gate;
        gate.open.Set();
        Event watched(true, true);
        std::unique_ptr<Wait> wait = start(gate, watched);
        ASSERT_TRUE(wait);
        ASSERT_TRUE(gate.entered.Wait(kGenerous));
        wait.reset();
        ASSERT_EQ(gate.calls, 1) << "round " << round;
    }
}

TEST(MTSysWaitCallback, DestroyedAfterReleaseFromInsideWhileCallbacksQueue) {
    ExpectDestroyedAfterReleaseInside<GatedNamespaceWait>([](Gate& gate, const Event& watched) {
        auto wait = std::make_unique<GatedNamespaceWait>(gate, watched, INFINITE, WT_EXECUTEDEFAULT);
        wait->releaseInside = true;
        wait->Begin();
        return wait;
    });
    ExpectDestroyedAfterReleaseInside<GatedPoolWait>([](Gate& gate, const Event& watched) {
        auto wait = std::make_unique<GatedPoolWait>(gate, watched);
        wait->releaseInside = true;
        if (!wait->Register(WT_EXECUTEDEFAULT, INFINITE)) wait.reset();
        return wait;
    });
}

TEST(MTSysSendOnSignal, ObjectsSignalledBeforehandEachSendOnce) {
    // The callback may run before the registration has been stored: the record must survive both.
    CountingWindow window;
    const int kSends = 100;
    std::vector<Event> signalled;
    for (int i = 0; i < kSends; ++i) signalled.emplace_back(true, true);
    for (int i = 0; i < kSends; ++i) ASSERT_TRUE(SendOnSignal(signalled[i].Get(), window.hwnd(), WM_APP + 7, i, 0));
    DWORD start = GetTickCount();
    while (window.sent.size() < size_t(kSends) && GetTickCount() - start < kGenerous) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    std::vector<int> seen(kSends, 0);
    for (auto& [wp, lp] : window.sent) ++seen.at(size_t(wp));
    for (int i = 0; i < kSends; ++i) EXPECT_EQ(seen[i], 1) << "send " << i;
}

TEST_F(MTSysRegMonitor, RearmedByAThreadThatEndsKeepsWatching) {
    Write(L"Watched", 1);
    RegKeyChangeMonitor monitor(HKEY_LOCAL_MACHINE, "Watched", true, REG_NOTIFY_CHANGE_LAST_SET);
    Write(L"Watched", 2);
    ASSERT_EQ(WaitForSingleObject(monitor.GetHandle(), kGenerous), WAIT_OBJECT_0);
    // As a pool thread would, which the system may end at any time afterwards.
    RunElsewhere([&] { monitor.Rearm(); }, kStuck, "Rearm");
    EXPECT_FALSE(IsSet(monitor.GetHandle())) << "the watch ended with the thread that armed it";
    Write(L"Watched", 3);
    EXPECT_EQ(WaitForSingleObject(monitor.GetHandle(), kGenerous), WAIT_OBJECT_0);
}

namespace {
// A pool wait on a registry watch that it holds and drops on Release under the callback's lock,
// as the control page's watch does.
class WatchedKey : public ::WaitCallback {
public:
    WatchedKey(std::shared_ptr<RegKeyChangeMonitor> monitor, HANDLE fired)
        : ::WaitCallback(monitor->GetHandle()), monitor_(std::move(monitor)), fired_(fired) {}
    ~WatchedKey() override { Release(); }
    void Release() override {
        Lock guard(CallbackLock());
        ::WaitCallback::Release();
        monitor_.reset();
    }
    void OnSignal(bool) override { SetEvent(fired_); }

private:
    std::shared_ptr<RegKeyChangeMonitor> monitor_;
    HANDLE fired_;
};

// Keeps a core busy while it lives, so that pool callbacks and teardown interleave differently.
class CpuLoad {
public:
    explicit CpuLoad(int threads) {
        for (int i = 0; i < threads; ++i) {
            workers_.emplace_back();
            workers_.back().Start(&Spin, &stop_);
        }
    }
    ~CpuLoad() {
        stop_ = true;
        for (Thread& worker : workers_) JoinOrEnd(worker, kStuck, "a load thread");
    }

private:
    static unsigned __stdcall Spin(void* stop) {
        unsigned spins = 0;
        while (!*static_cast<std::atomic<bool>*>(stop))
            if (++spins % 4096 == 0) SwitchToThread();
        return 0;
    }
    std::atomic<bool> stop_{false};
    std::vector<Thread> workers_;
};
}  // namespace

TEST_F(MTSysRegMonitor, ThousandWatchesFiredRearmedAndDestroyedLeakNothing) {
    Write(L"Watched\\Below", 0);
    Event fired(true, false);
    DWORD value = 0;
    auto round = [&] {
        auto monitor = std::make_shared<RegKeyChangeMonitor>(HKEY_LOCAL_MACHINE, "Watched", true, REG_NOTIFY_CHANGE_LAST_SET);
        auto watch = std::make_unique<WatchedKey>(monitor, fired.Get());
        fired.Reset();
        ASSERT_TRUE(watch->Register(WT_EXECUTEONLYONCE, INFINITE));
        Write(L"Watched\\Below", ++value);
        ASSERT_TRUE(fired.Wait(kGenerous)) << "a write was not seen, value " << value;
        // Re-armed as each refresh does; the change it sees arrives while the watch goes away.
        monitor->Rearm();
        ASSERT_TRUE(watch->Register(WT_EXECUTEONLYONCE, INFINITE));
        Write(L"Watched\\Below", ++value);
        watch.reset();
    };
    round();  // the pool and the registry make what they keep on first use
    const size_t before = OpenHandleCount();
    ASSERT_GT(before, 0u);
    RunElsewhere(
        [&] {
            CpuLoad load(1);
            for (int i = 0; i < 1000 && !HasFatalFailure(); ++i) round();
        },
        10 * kStuck, "a thousand watches");
    const size_t after = OpenHandleCount();
    EXPECT_LE(after, before + 10) << "handles before " << before << ", after " << after;
}
