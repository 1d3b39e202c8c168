// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER of this process redirected to new empty keys while it
// lives, and the keys removed afterwards: a clean registry for a simulator run or a test.
#pragma once
#include <windows.h>
#include <string>

class ScratchRegistry {
public:
    ScratchRegistry();  // raises WindowsError when the keys cannot be made or redirected
    ~ScratchRegistry();
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

private:
    std::wstring root_;
    HKEY machine_ = nullptr, user_ = nullptr;
};
