// A thread-pool wait on a kernel object whose registration is a step of its own, and a helper that
// sends a window message once an object is signalled.
#pragma once
#include "MTSys/MTSys.h"

// Called back on the thread pool when the watched object is signalled or the wait times out.
// OnSignal runs under the callback's lock, so Release never overlaps it. A derived class calls
// Release() in its own destructor, before its members go.
class WaitCallback {
public:
    // Keeps a duplicate of `object`; nothing is registered yet.
    explicit WaitCallback(HANDLE object);
    explicit WaitCallback(const MTSys::SyncObject& object) : WaitCallback(object.Get()) {}
    WaitCallback(const WaitCallback&) = delete;
    WaitCallback& operator=(const WaitCallback&) = delete;
    virtual ~WaitCallback();
    // Replaces any earlier registration; false when the system refused it.
    virtual bool Register(ULONG flags, DWORD ms);
    // Ends the registration; returns once no callback runs any more. Called with CallbackLock()
    // held, it lets go of the lock while it waits and takes it back before it returns.
    virtual void Release();
    virtual void OnSignal(bool timedOut) = 0;

protected:
    // The callback's lock, for derived state that OnSignal also touches.
    CRITICAL_SECTION& CallbackLock() { return wait_.LockObject(); }

private:
    static void Signal(void* self, bool timedOut);
    MTSys::Detail::PoolWait wait_;
    MTSys::SyncObject object_;
};

// Once `object` is signalled, sends `message` (SendMessageA) with the two parameters to `window`
// from a pool thread. False when the wait could not be registered.
bool SendOnSignal(HANDLE object, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
