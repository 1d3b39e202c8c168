#include "Host/PluginHost.h"
#include "Framework/Exceptions.h"
#include "Framework/Paths.h"
#include "Framework/Registry.h"
#include <shlwapi.h>
#include <cstdlib>
#include <mutex>

namespace Host {

namespace {

const char kSource[] = "Host/PluginHost";

struct ClockState {
    std::mutex lock;
    bool set = false;
    bool held = false;
    long long localTicks = 0;   // 100 ns since 1601, local time, at the moment of setting
    ULONGLONG realStart = 0;    // GetTickCount64 then
    long long advanced = 0;     // ticks added by Advance
};

ClockState& TheClock() {
    static ClockState state;
    return state;
}

long long FileTimeTicks(const FILETIME& ft) { return (static_cast<long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

FILETIME TicksFileTime(long long ticks) {
    FILETIME ft;
    ft.dwLowDateTime = DWORD(ticks & 0xFFFFFFFF);
    ft.dwHighDateTime = DWORD(ticks >> 32);
    return ft;
}

long long SimulatedLocalTicks() {
    ClockState& clock = TheClock();
    std::lock_guard guard(clock.lock);
    long long elapsed = clock.held ? 0 : (long long)(GetTickCount64() - clock.realStart) * 10000;
    return clock.localTicks + clock.advanced + elapsed;
}

SYSTEMTIME TicksSystemTime(long long ticks) {
    FILETIME ft = TicksFileTime(ticks);
    SYSTEMTIME st{};
    FileTimeToSystemTime(&ft, &st);
    return st;
}

void WINAPI HookGetLocalTime(SYSTEMTIME* time) {
    if (time) *time = Clock::Local();
}

void WINAPI HookGetSystemTime(SYSTEMTIME* time) {
    if (time) *time = Clock::Universal();
}

void WINAPI HookGetSystemTimeAsFileTime(FILETIME* time) {
    if (!time) return;
    SYSTEMTIME st = Clock::Universal();
    SystemTimeToFileTime(&st, time);
}

struct BoxState {
    std::vector<Box> boxes;
    int answer = IDOK;
    Transcript* sink = nullptr;
};

BoxState& TheBoxes() {
    static BoxState state;
    return state;
}

int Capture(std::wstring caption, std::wstring text, UINT type) {
    BoxState& state = TheBoxes();
    state.boxes.push_back({caption, text, type});
    if (state.sink) state.sink->Add(L"plugin", L"box \"" + caption + L"\": " + text);
    return state.answer;
}

int WINAPI HookMessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
    return Capture(caption ? caption : L"", text ? text : L"", type);
}

int WINAPI HookMessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    return Capture(Widen(caption ? caption : ""), Widen(text ? text : ""), type);
}

}  // namespace

void Clock::Set(const SYSTEMTIME& local, bool held) {
    FILETIME ft;
    if (!SystemTimeToFileTime(&local, &ft)) throw WindowsError(GetLastError(), kSource, __LINE__);
    ClockState& clock = TheClock();
    std::lock_guard guard(clock.lock);
    clock.set = true;
    clock.held = held;
    clock.localTicks = FileTimeTicks(ft);
    clock.realStart = GetTickCount64();
    clock.advanced = 0;
}

void Clock::Clear() {
    ClockState& clock = TheClock();
    std::lock_guard guard(clock.lock);
    clock.set = false;
}

bool Clock::IsSet() {
    ClockState& clock = TheClock();
    std::lock_guard guard(clock.lock);
    return clock.set;
}

void Clock::Advance(long long milliseconds) {
    ClockState& clock = TheClock();
    std::lock_guard guard(clock.lock);
    clock.advanced += milliseconds * 10000;
}

SYSTEMTIME Clock::Local() {
    SYSTEMTIME st{};
    if (!IsSet()) {
        GetLocalTime(&st);
        return st;
    }
    return TicksSystemTime(SimulatedLocalTicks());
}

SYSTEMTIME Clock::Universal() {
    SYSTEMTIME st{};
    if (!IsSet()) {
        GetSystemTime(&st);
        return st;
    }
    SYSTEMTIME local = Local();
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &st)) st = local;
    return st;
}

std::vector<Box>& Boxes::All() { return TheBoxes().boxes; }
void Boxes::SetAnswer(int answer) { TheBoxes().answer = answer; }
Transcript*& Boxes::Sink() { return TheBoxes().sink; }

int PatchImport(HMODULE module, const char* name, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    if (!module || dos->e_magic != IMAGE_DOS_SIGNATURE) return 0;
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return 0;
    int patched = 0;
    for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); desc->Name; ++desc) {
        if (!desc->OriginalFirstThunk) continue;  // no name table: nothing to match by name
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
            DWORD old = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE, &old)) continue;
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), old, &old);
            ++patched;
        }
    }
    return patched;
}

void RedirectClock(HMODULE module) {
    PatchImport(module, "GetLocalTime", reinterpret_cast<void*>(&HookGetLocalTime));
    PatchImport(module, "GetSystemTime", reinterpret_cast<void*>(&HookGetSystemTime));
    PatchImport(module, "GetSystemTimeAsFileTime", reinterpret_cast<void*>(&HookGetSystemTimeAsFileTime));
    PatchImport(module, "GetSystemTimePreciseAsFileTime", reinterpret_cast<void*>(&HookGetSystemTimeAsFileTime));
}

void PluginModule::Load(const std::wstring& path) {
    if (module_) return;
    HMODULE module = LoadLibraryW(path.c_str());
    if (!module) throw VelmorException(L"cannot load the plugin \"" + path + L"\" (error " + std::to_wstring(GetLastError()) + L")");
    RedirectClock(module);
    PatchImport(module, "MessageBoxW", reinterpret_cast<void*>(&HookMessageBoxW));
    PatchImport(module, "MessageBoxA", reinterpret_cast<void*>(&HookMessageBoxA));
    auto entry = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!entry) {
        FreeLibrary(module);
        throw VelmorException(L"the plugin \"" + path + L"\" exports no DllGetClassObject");
    }
    module_ = module;
    getClassObject_ = entry;
    installInit_ = reinterpret_cast<InstallInitFn>(reinterpret_cast<void*>(GetProcAddress(module, "PaylantraPlugin_InstallInit")));
}

void PluginModule::Unload() {
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
    getClassObject_ = nullptr;
    installInit_ = nullptr;
}

int PluginModule::InstallInit() const {
    if (!installInit_) throw VelmorException("the plugin exports no PaylantraPlugin_InstallInit");
    return installInit_(nullptr, 0);
}

bool RegisteredClass(const wchar_t* hostKey, CLSID& clsid) {
    RegKey key(HKEY_LOCAL_MACHINE, hostKey, false, kRegReadAccess);
    std::optional<std::wstring> text = key[L"CLSID"].Text();
    if (!text) return false;
    if (FAILED(CLSIDFromString(text->c_str(), &clsid)))
        throw VelmorException(L"the \"CLSID\" value \"" + *text + L"\" of " + hostKey + L" is no class ID");
    return true;
}

std::wstring ClassText(REFCLSID clsid) {
    wchar_t text[40] = {};
    StringFromGUID2(clsid, text, int(std::size(text)));
    return text;
}

std::wstring RegisteredServer(REFCLSID clsid) {
    RegKey server(HKEY_CLASSES_ROOT, L"CLSID\\" + ClassText(clsid) + L"\\InProcServer32", false, kRegReadAccess);
    return server[L""].Text().value_or(std::wstring());
}

HRESULT PluginModule::GetClassObject(REFCLSID clsid, REFIID iid, void** object) const {
    if (!getClassObject_) return E_UNEXPECTED;
    return getClassObject_(clsid, iid, object);
}

namespace {

std::wstring EnvironmentValue(const wchar_t* name) {
    wchar_t buffer[MAX_PATH * 2] = {};
    DWORD length = GetEnvironmentVariableW(name, buffer, DWORD(std::size(buffer)));
    return length && length < std::size(buffer) ? std::wstring(buffer, length) : std::wstring();
}

void SetEnvironmentValue(const wchar_t* name, const std::wstring& value) {
    // Through the C runtime, which the plugin shares, and so also the process environment.
    _wputenv((std::wstring(name) + L"=" + value).c_str());
}

}  // namespace

ScratchTemp::ScratchTemp()
    : oldTemp_(EnvironmentValue(L"TEMP")), oldTmp_(EnvironmentValue(L"TMP")), oldAppData_(EnvironmentValue(L"APPDATA")) {
    wchar_t base[MAX_PATH] = {};
    if (!GetTempPathW(MAX_PATH, base)) throw WindowsError(GetLastError(), kSource, __LINE__);
    folder_ = std::wstring(base) + L"TallySim-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(GetTickCount64());
    // %APPDATA% beside %TEMP%, not inside it: what a scenario leaves in one is not found in the other.
    appData_ = folder_ + L"-AppData";
    if (!CreateDirectoryW(folder_.c_str(), nullptr)) throw WindowsError(GetLastError(), kSource, __LINE__);
    if (!CreateDirectoryW(appData_.c_str(), nullptr)) {
        DWORD error = GetLastError();
        RemoveTree(folder_);
        throw WindowsError(error, kSource, __LINE__);
    }
    SetEnvironmentValue(L"TEMP", folder_);
    SetEnvironmentValue(L"TMP", folder_);
    SetEnvironmentValue(L"APPDATA", appData_);
}

ScratchTemp::~ScratchTemp() {
    SetEnvironmentValue(L"TEMP", oldTemp_);
    SetEnvironmentValue(L"TMP", oldTmp_);
    SetEnvironmentValue(L"APPDATA", oldAppData_);
    RemoveTree(folder_);
    RemoveTree(appData_);
}

std::wstring DefaultPluginPath() {
    std::wstring folder = GetParentPath(ModuleFileNameW(nullptr));
    std::wstring beside = folder + L"\\Tallymark.dll";
    if (FileExists(beside)) return beside;
    return GetParentPath(folder) + L"\\Plugin\\Tallymark.dll";
}

}  // namespace Host
