#include "tests/RegistryFixture.h"
#include <shlwapi.h>
#include <atomic>

static std::atomic<unsigned> g_scratchSerial{0};

ScratchRegistry::ScratchRegistry() {
    root_ = L"Software\\TallymarkTestScratch\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++g_scratchSerial);
    // Both scratch keys live in the real user hive, made before either key is redirected.
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    SHDeleteKeyW(HKEY_CURRENT_USER, root_.c_str());
    if (RegCreateKeyExW(HKEY_CURRENT_USER, (root_ + L"\\HKLM").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &machine_, nullptr) != ERROR_SUCCESS ||
        RegCreateKeyExW(HKEY_CURRENT_USER, (root_ + L"\\HKCU").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &user_,
                        nullptr) != ERROR_SUCCESS)
        ADD_FAILURE() << "cannot create the scratch registry keys";
    if (RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_) != ERROR_SUCCESS ||
        RegOverridePredefKey(HKEY_CURRENT_USER, user_) != ERROR_SUCCESS)
        ADD_FAILURE() << "RegOverridePredefKey failed";
}

ScratchRegistry::~ScratchRegistry() {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    if (machine_) RegCloseKey(machine_);
    if (user_) RegCloseKey(user_);
    SHDeleteKeyW(HKEY_CURRENT_USER, root_.c_str());
}
