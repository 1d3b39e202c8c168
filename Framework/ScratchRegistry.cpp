#include "Framework/ScratchRegistry.h"
#include "Framework/Exceptions.h"
#include <shlwapi.h>
#include <atomic>

static std::atomic<unsigned> g_serial{0};

ScratchRegistry::ScratchRegistry() {
    root_ = L"Software\\TallymarkScratch\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++g_serial);
    // Both scratch keys live in the real user hive, made before either key is redirected.
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, (root_ + L"\\HKLM").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &machine_, nullptr);
    if (rc == ERROR_SUCCESS)
        rc = RegCreateKeyExW(HKEY_CURRENT_USER, (root_ + L"\\HKCU").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                             &user_, nullptr);
    if (rc == ERROR_SUCCESS) rc = RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_);
    if (rc == ERROR_SUCCESS) rc = RegOverridePredefKey(HKEY_CURRENT_USER, user_);
    if (rc != ERROR_SUCCESS) {
        this->~ScratchRegistry();
        throw WindowsError(DWORD(rc), "Framework/ScratchRegistry", __LINE__);
    }
}

ScratchRegistry::~ScratchRegistry() {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    if (machine_) RegCloseKey(machine_);
    if (user_) RegCloseKey(user_);
    machine_ = user_ = nullptr;
    SHDeleteKeyW(HKEY_CURRENT_USER, root_.c_str());
}
