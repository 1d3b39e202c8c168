#include "Host/RegistryCalls.h"
#include "Host/PluginHost.h"
#include <shlwapi.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace Host {

namespace {

struct State {
    std::array<std::atomic<unsigned long long>, kRegCallKinds> counts{};
    std::atomic<int> failKind{-1};
    std::atomic<unsigned> failCountdown{0};
    std::atomic<LONG> failError{ERROR_SUCCESS};
    std::atomic<bool> failureHit{false};
};

State& The() {
    static State state;
    return state;
}

// Counts the call; true when it is the one to fail, with the error to answer.
bool Intercept(RegCall kind, LONG& error) {
    State& s = The();
    ++s.counts[size_t(kind)];
    if (s.failKind != int(kind) || s.failCountdown == 0 || --s.failCountdown != 0) return false;
    s.failKind = -1;
    s.failureHit = true;
    error = s.failError;
    return true;
}

FARPROC Real(const wchar_t* dll, const char* name) {
    HMODULE module = GetModuleHandleW(dll);
    if (!module) module = LoadLibraryW(dll);
    return module ? GetProcAddress(module, name) : nullptr;
}

// One hook per imported function: counted, perhaps failed, else passed to the real one.
#define TALLY_REG_HOOK(kind, dll, name, params, args)                                                     \
    using name##Fn = LONG(WINAPI*) params;                                                                \
    LONG WINAPI Hook##name params {                                                                       \
        static const auto real = reinterpret_cast<name##Fn>(reinterpret_cast<void*>(Real(dll, #name))); \
        LONG error = ERROR_SUCCESS;                                                                       \
        if (Intercept(kind, error)) return error;                                                         \
        return real ? real args : LONG(ERROR_PROC_NOT_FOUND);                                             \
    }

TALLY_REG_HOOK(RegCall::Open, L"advapi32.dll", RegOpenKeyExW, (HKEY k, LPCWSTR s, DWORD o, REGSAM a, PHKEY r), (k, s, o, a, r))
TALLY_REG_HOOK(RegCall::Open, L"advapi32.dll", RegOpenKeyExA, (HKEY k, LPCSTR s, DWORD o, REGSAM a, PHKEY r), (k, s, o, a, r))
TALLY_REG_HOOK(RegCall::Create, L"advapi32.dll", RegCreateKeyExW,
               (HKEY k, LPCWSTR s, DWORD r, LPWSTR c, DWORD o, REGSAM a, LPSECURITY_ATTRIBUTES sa, PHKEY out, LPDWORD d),
               (k, s, r, c, o, a, sa, out, d))
TALLY_REG_HOOK(RegCall::Create, L"advapi32.dll", RegCreateKeyExA,
               (HKEY k, LPCSTR s, DWORD r, LPSTR c, DWORD o, REGSAM a, LPSECURITY_ATTRIBUTES sa, PHKEY out, LPDWORD d),
               (k, s, r, c, o, a, sa, out, d))
TALLY_REG_HOOK(RegCall::Query, L"advapi32.dll", RegQueryValueExW, (HKEY k, LPCWSTR n, LPDWORD r, LPDWORD t, LPBYTE d, LPDWORD s),
               (k, n, r, t, d, s))
TALLY_REG_HOOK(RegCall::Query, L"advapi32.dll", RegQueryValueExA, (HKEY k, LPCSTR n, LPDWORD r, LPDWORD t, LPBYTE d, LPDWORD s),
               (k, n, r, t, d, s))
TALLY_REG_HOOK(RegCall::Query, L"advapi32.dll", RegGetValueW,
               (HKEY k, LPCWSTR s, LPCWSTR n, DWORD f, LPDWORD t, PVOID d, LPDWORD z), (k, s, n, f, t, d, z))
TALLY_REG_HOOK(RegCall::Set, L"advapi32.dll", RegSetValueExW, (HKEY k, LPCWSTR n, DWORD r, DWORD t, const BYTE* d, DWORD s),
               (k, n, r, t, d, s))
TALLY_REG_HOOK(RegCall::Set, L"advapi32.dll", RegSetValueExA, (HKEY k, LPCSTR n, DWORD r, DWORD t, const BYTE* d, DWORD s),
               (k, n, r, t, d, s))
TALLY_REG_HOOK(RegCall::Delete, L"advapi32.dll", RegDeleteValueW, (HKEY k, LPCWSTR n), (k, n))
TALLY_REG_HOOK(RegCall::Delete, L"advapi32.dll", RegDeleteKeyW, (HKEY k, LPCWSTR n), (k, n))
TALLY_REG_HOOK(RegCall::Delete, L"advapi32.dll", RegDeleteTreeW, (HKEY k, LPCWSTR n), (k, n))
TALLY_REG_HOOK(RegCall::Delete, L"shlwapi.dll", SHDeleteKeyW, (HKEY k, LPCWSTR n), (k, n))
TALLY_REG_HOOK(RegCall::EnumValue, L"advapi32.dll", RegEnumValueW,
               (HKEY k, DWORD i, LPWSTR n, LPDWORD nl, LPDWORD r, LPDWORD t, LPBYTE d, LPDWORD dl), (k, i, n, nl, r, t, d, dl))
TALLY_REG_HOOK(RegCall::EnumKey, L"advapi32.dll", RegEnumKeyExW,
               (HKEY k, DWORD i, LPWSTR n, LPDWORD nl, LPDWORD r, LPWSTR c, LPDWORD cl, PFILETIME w), (k, i, n, nl, r, c, cl, w))
TALLY_REG_HOOK(RegCall::QueryInfo, L"advapi32.dll", RegQueryInfoKeyW,
               (HKEY k, LPWSTR c, LPDWORD cl, LPDWORD r, LPDWORD sk, LPDWORD msk, LPDWORD mc, LPDWORD v, LPDWORD mvn,
                LPDWORD mvd, LPDWORD sd, PFILETIME w),
               (k, c, cl, r, sk, msk, mc, v, mvn, mvd, sd, w))
TALLY_REG_HOOK(RegCall::Close, L"advapi32.dll", RegCloseKey, (HKEY k), (k))
TALLY_REG_HOOK(RegCall::Notify, L"advapi32.dll", RegNotifyChangeKeyValue, (HKEY k, BOOL t, DWORD f, HANDLE e, BOOL a),
               (k, t, f, e, a))

#undef TALLY_REG_HOOK

const char* const kNames[kRegCallKinds][2] = {
    {"open", "opens"},
    {"create", "creates"},
    {"query", "queries"},
    {"set", "sets"},
    {"delete", "deletes"},
    {"value enumeration", "value enumerations"},
    {"key enumeration", "key enumerations"},
    {"key-info query", "key-info queries"},
    {"close", "closes"},
    {"change notification", "change notifications"},
};

}  // namespace

void RegistryCalls::Redirect(HMODULE module) {
#define TALLY_PATCH(name) PatchImport(module, #name, reinterpret_cast<void*>(&Hook##name))
    TALLY_PATCH(RegOpenKeyExW);
    TALLY_PATCH(RegOpenKeyExA);
    TALLY_PATCH(RegCreateKeyExW);
    TALLY_PATCH(RegCreateKeyExA);
    TALLY_PATCH(RegQueryValueExW);
    TALLY_PATCH(RegQueryValueExA);
    TALLY_PATCH(RegGetValueW);
    TALLY_PATCH(RegSetValueExW);
    TALLY_PATCH(RegSetValueExA);
    TALLY_PATCH(RegDeleteValueW);
    TALLY_PATCH(RegDeleteKeyW);
    TALLY_PATCH(RegDeleteTreeW);
    TALLY_PATCH(SHDeleteKeyW);
    TALLY_PATCH(RegEnumValueW);
    TALLY_PATCH(RegEnumKeyExW);
    TALLY_PATCH(RegQueryInfoKeyW);
    TALLY_PATCH(RegCloseKey);
    TALLY_PATCH(RegNotifyChangeKeyValue);
#undef TALLY_PATCH
}

RegistryCalls::Counts RegistryCalls::Taken() {
    Counts counts{};
    for (size_t i = 0; i < kRegCallKinds; ++i) counts[i] = The().counts[i];
    return counts;
}

void RegistryCalls::Reset() {
    for (auto& count : The().counts) count = 0;
}

unsigned long long RegistryCalls::Total(const Counts& counts) {
    unsigned long long total = 0;
    for (unsigned long long count : counts) total += count;
    return total;
}

const char* RegistryCalls::Name(RegCall kind) { return kNames[size_t(kind)][0]; }

std::string RegistryCalls::Describe(const Counts& counts, double per) {
    std::vector<size_t> order;
    for (size_t i = 0; i < kRegCallKinds; ++i)
        if (counts[i]) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return counts[a] > counts[b]; });
    std::string text;
    for (size_t i : order) {
        const double value = double(counts[i]) / per;
        char part[96];
        std::snprintf(part, sizeof part, "%s%.1f %s", text.empty() ? "" : ", ", value, kNames[i][value == 1.0 ? 0 : 1]);
        text += part;
    }
    return text.empty() ? "none" : text;
}

void RegistryCalls::FailAt(RegCall kind, unsigned nth, LONG error) {
    State& s = The();
    s.failKind = -1;
    s.failError = error;
    s.failCountdown = nth;
    s.failureHit = false;
    s.failKind = int(kind);
}

void RegistryCalls::ClearFailure() {
    The().failKind = -1;
    The().failCountdown = 0;
}

bool RegistryCalls::FailureHit() { return The().failureHit; }

}  // namespace Host
