// Counted interface pointers. Assigning another object queries it for the wanted interface.
#pragma once
#include "Framework/Com.h"
#include <windows.h>
#include <unknwn.h>
#include <utility>

namespace AppFrame {

// The module that holds the calling code, for the source position of a failed query.
inline HMODULE CodeModule() {
    static HMODULE module = [] {
        HMODULE found = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(&CodeModule), &found);
        return found;
    }();
    return module;
}

// A checked COM call of this module: a failed HRESULT raises CoError naming `source`:`line`.
inline void CoCheck(HRESULT hr, const char* source, int line) { CoCallEx(hr, CodeModule(), source, line); }

template <class I>
class co {
public:
    co() = default;
    // Queries `source` for I (a failure raises CoError); a null source gives a null pointer.
    explicit co(IUnknown* source, REFIID iid = __uuidof(I)) { Query(source, iid); }
    co(const co& other) : p_(other.p_) {
        if (p_) p_->AddRef();
    }
    co(co&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    co& operator=(co other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~co() { Reset(); }

    // Takes over a reference the caller owns (no AddRef).
    static co Attach(I* owned) {
        co result;
        result.p_ = owned;
        return result;
    }
    // Shares a pointer of the right type (AddRef).
    static co Share(I* pointer) {
        if (pointer) pointer->AddRef();
        return Attach(pointer);
    }

    void Reset() {
        if (I* old = std::exchange(p_, nullptr)) old->Release();
    }
    I* Detach() { return std::exchange(p_, nullptr); }
    I** Out() {
        Reset();
        return &p_;
    }
    I* Get() const { return p_; }
    I* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    void Query(IUnknown* source, REFIID iid) {
        if (!source) return;
        void* found = nullptr;
        HRESULT hr = source->QueryInterface(iid, &found);
        CoCallEx(hr, CodeModule(), "AppFrame/Include/co", __LINE__);
        p_ = static_cast<I*>(found);
    }

    I* p_ = nullptr;
};

}  // namespace AppFrame

using AppFrame::co;
using AppFrame::CoCheck;
