#include "MTSys/PoolWaitCallback.h"
#include "Framework/Com.h"
#include <atomic>
#include <memory>

WaitCallback::WaitCallback(HANDLE object) : object_(DuplicateProcessHandle(object)) {}

WaitCallback::~WaitCallback() { wait_.Unregister(); }

bool WaitCallback::Register(ULONG flags, DWORD ms) {
    return object_.IsValid() && wait_.Register(object_.Get(), &Signal, this, ms, flags);
}

void WaitCallback::Release() { wait_.Unregister(); }

void WaitCallback::Signal(void* self, bool timedOut) { static_cast<WaitCallback*>(self)->OnSignal(timedOut); }

namespace {
struct PendingSend {
    // The registering call and the callback: whichever is done last unregisters and frees. The
    // callback may run before the registering call has stored `wait`, so neither frees alone.
    std::atomic<int> parties{2};
    HANDLE wait = nullptr;
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

void Leave(PendingSend* send) {
    if (send->parties.fetch_sub(1) != 1) return;
    // Inside the callback, or just after it: the pool frees the wait once the callback is out.
    UnregisterWait(send->wait);
    delete send;
}

void CALLBACK SendNow(void* context, BOOLEAN) {
    auto* send = static_cast<PendingSend*>(context);
    SendMessageA(send->window, send->message, send->wParam, send->lParam);
    Leave(send);
}
}  // namespace

bool SendOnSignal(HANDLE object, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!object) return false;  // the system would register a wait that never ends
    std::unique_ptr<PendingSend> send;
    try {
        send = std::make_unique<PendingSend>();
    } catch (...) {
        return false;
    }
    send->window = window;
    send->message = message;
    send->wParam = wParam;
    send->lParam = lParam;
    if (!RegisterWaitForSingleObject(&send->wait, object, &SendNow, send.get(), INFINITE, WT_EXECUTEONLYONCE))
        return false;
    Leave(send.release());
    return true;
}
