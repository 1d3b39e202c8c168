#include "MTSys/PoolWaitCallback.h"
#include "Framework/Com.h"
#include <mutex>

WaitCallback::WaitCallback(HANDLE object) : object_(DuplicateProcessHandle(object)) {}

WaitCallback::~WaitCallback() { wait_.Unregister(); }

bool WaitCallback::Register(ULONG flags, DWORD ms) {
    return object_.IsValid() && wait_.Register(object_.Get(), &Callback, this, ms, flags);
}

void WaitCallback::Release() { wait_.Unregister(); }

void CALLBACK WaitCallback::Callback(void* context, BOOLEAN timedOut) {
    auto* self = static_cast<WaitCallback*>(context);
    self->wait_.Dispatch([&] { self->OnSignal(timedOut != FALSE); });
}

namespace {
struct PendingSend {
    std::mutex registering;  // held until `wait` is stored: the object may be signalled already
    HANDLE wait = nullptr;
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

void CALLBACK SendNow(void* context, BOOLEAN) {
    auto* send = static_cast<PendingSend*>(context);
    try {
        std::lock_guard<std::mutex> registered(send->registering);
    } catch (...) {
        // Without the lock the registration may not be stored: leak the record rather than guess.
        OutputDebugStringA("SendOnSignal: lock failed\n");
        return;
    }
    SendMessageA(send->window, send->message, send->wParam, send->lParam);
    // From inside its own callback this reports ERROR_IO_PENDING; the pool frees the wait afterwards.
    UnregisterWait(send->wait);
    delete send;
}
}  // namespace

bool SendOnSignal(HANDLE object, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!object) return false;  // the system would register a wait that never ends
    try {
        auto send = std::make_unique<PendingSend>();
        send->window = window;
        send->message = message;
        send->wParam = wParam;
        send->lParam = lParam;
        std::lock_guard<std::mutex> registering(send->registering);
        if (!RegisterWaitForSingleObject(&send->wait, object, &SendNow, send.get(), INFINITE, WT_EXECUTEONLYONCE))
            return false;
        send.release();  // the callback owns it now; it waits for the guard before reading `wait`
        return true;
    } catch (...) {
        return false;
    }
}
