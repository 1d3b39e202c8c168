#include "Harness/ProcessStats.h"
#include <windows.h>
#include <psapi.h>
#include <vector>

namespace {
// The system-wide handle table (information class 16), as the system lays it out.
struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    void* object;
    ULONG access;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};
using QuerySystem = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);

size_t CountInSystemTable() {
    auto query = reinterpret_cast<QuerySystem>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return 0;
    std::vector<char> buffer(1 << 16);
    for (int attempt = 0; attempt < 16; ++attempt) {
        ULONG needed = 0;
        LONG status = query(16, buffer.data(), ULONG(buffer.size()), &needed);
        if (status == LONG(0xC0000004)) {  // the table grew: try with room to spare
            buffer.resize(std::max<size_t>(buffer.size() * 2, size_t(needed) + 4096));
            continue;
        }
        if (status < 0) return 0;
        const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
        const ULONG self = GetCurrentProcessId();
        size_t count = 0;
        for (ULONG i = 0; i < table->count; ++i)
            if (table->entries[i].ownerPid == self) ++count;
        return count;
    }
    return 0;
}
}  // namespace

size_t OpenHandleCount() {
    DWORD count = 0;
    // Some systems answer 0 here; the system table still knows.
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return count;
    return CountInSystemTable();
}

namespace {
// Committed memory of this process's own, region by region.
size_t CommittedPrivateRegions() {
    size_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        if (region.RegionSize == 0) break;
    }
    return total;
}
}  // namespace

size_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    // Some systems leave the figure 0; the regions still tell.
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters) &&
        counters.PrivateUsage > 0)
        return counters.PrivateUsage;
    return CommittedPrivateRegions();
}
