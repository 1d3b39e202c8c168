#include "Harness/ScratchRegistry.h"
#include "Framework/Exceptions.h"
#include <shlwapi.h>
#include <atomic>
#include <cwchar>
#include <vector>

namespace {

const char kSource[] = "Harness/ScratchRegistry";
std::atomic<unsigned> g_serial{0};
std::atomic<int> g_live{0};
ScratchRegistry* g_newest = nullptr;  // the override in force when several nest

FILETIME ProcessCreation(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) created = {};
    return created;
}

// The run of "<pid>-<creation time>-<serial>" is alive while a process of that id and start lives.
bool RunIsAlive(const std::wstring& name) {
    unsigned long pid = 0;
    unsigned long long created = 0;
    unsigned serial = 0;
    if (swscanf(name.c_str(), L"%lu-%llx-%u", &pid, &created, &serial) != 3) return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED;  // someone else's: leave it be
    FILETIME start = ProcessCreation(process);
    unsigned long long started = (unsigned long long)start.dwHighDateTime << 32 | start.dwLowDateTime;
    DWORD code = 0;
    bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    // A start time that cannot be read proves nothing: the run is left alone.
    return running && (started == 0 || started == created);
}

}  // namespace

HiveOverride::HiveOverride(HKEY hive, HKEY parent, const std::wstring& name)
    : hive_(hive), key_(parent, name, true, kRegWriteAccess) {
    if (!key_) throw WindowsError(DWORD(key_.LastError()), kSource, __LINE__);
    LONG rc = RegOverridePredefKey(hive_, key_.Handle());
    if (rc != ERROR_SUCCESS) throw WindowsError(DWORD(rc), kSource, __LINE__);
}

HiveOverride::~HiveOverride() { RegOverridePredefKey(hive_, nullptr); }

void HiveOverride::WithRealHive(const std::function<void()>& work) {
    RegOverridePredefKey(hive_, nullptr);
    struct Back {
        HiveOverride* self;
        ~Back() { RegOverridePredefKey(self->hive_, self->key_.Handle()); }
    } back{this};
    work();
}

std::wstring ScratchRegistry::RunName(DWORD pid, const FILETIME& created, unsigned serial) {
    unsigned long long start = (unsigned long long)created.dwHighDateTime << 32 | created.dwLowDateTime;
    wchar_t name[64];
    swprintf(name, 64, L"%lu-%llx-%u", (unsigned long)pid, start, serial);
    return name;
}

unsigned ScratchRegistry::SweepLeftovers() {
    RegKey root(HKEY_CURRENT_USER, kScratchRoot, false, kRegWriteAccess);
    if (!root) return 0;
    std::vector<std::wstring> dead;
    for (DWORD index = 0;; ++index) {
        std::wstring name = root.SubkeyName(index);
        if (name.empty()) break;
        if (!RunIsAlive(name)) dead.push_back(name);
    }
    for (const std::wstring& name : dead) SHDeleteKeyW(root.Handle(), name.c_str());
    return unsigned(dead.size());
}

ScratchRegistry::Run::Run() {
    // The scratch keys live in the real user hive, made before either hive is redirected.
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    SweepLeftovers();
    name_ = std::wstring(kScratchRoot) + L"\\" +
            RunName(GetCurrentProcessId(), ProcessCreation(GetCurrentProcess()), ++g_serial);
    key_ = RegKey(HKEY_CURRENT_USER, name_, true, kRegWriteAccess);
    if (!key_) throw WindowsError(DWORD(key_.LastError()), kSource, __LINE__);
}

ScratchRegistry::Run::~Run() {
    key_.Close();
    SHDeleteKeyW(HKEY_CURRENT_USER, name_.c_str());
}

ScratchRegistry::ScratchRegistry()
    : machine_(HKEY_LOCAL_MACHINE, run_.Handle(), L"HKLM"),
      user_(HKEY_CURRENT_USER, run_.Handle(), L"HKCU"),
      classes_(HKEY_CLASSES_ROOT, run_.Handle(), L"HKCR"), outer_(g_newest) {
    ++g_live;
    g_newest = this;
}

ScratchRegistry::~ScratchRegistry() {
    --g_live;
    if (g_newest == this) g_newest = outer_;
}

void ScratchRegistry::WithRealClasses(const std::function<void()>& work) {
    if (g_newest)
        g_newest->classes_.WithRealHive(work);
    else
        work();
}

bool ScratchRegistry::Active() { return g_live > 0; }
