// Records per second of the operation log: CASH.ACCEPT records of a realistic length written one by
// one into the day's file, as counting writes them. Run by ./tally bench.
//   LogBench.exe [records [rounds]]
#include "Bench.h"
#include "Plugin/Counting/PLLog.h"
#include "Framework/Text.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    const unsigned records = argc > 1 ? unsigned(std::max(1, std::atoi(argv[1]))) : 20000;
    const unsigned rounds = argc > 2 ? unsigned(std::max(1, std::atoi(argv[2]))) : 3;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"TallyLogBench-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::string text = Narrow1251(L"принята купюра 500 RUB (всего в стекере купюр 123 шт.: RUB¤45600)");
    LARGE_INTEGER frequency, t0, t1;
    QueryPerformanceFrequency(&frequency);
    double best = 1e9;
    for (unsigned round = 0; round < rounds; ++round) {
        Plugin::OperationLog log;
        log.SetPathTemplate(folder + L"\\Tallymark " + std::to_wstring(round) + L" *.txt");
        log.RollToToday();
        QueryPerformanceCounter(&t0);
        for (unsigned i = 0; i < records; ++i) log.Write(Plugin::LogEvent::CashAccept, text);
        QueryPerformanceCounter(&t1);
        best = std::min(best, double(t1.QuadPart - t0.QuadPart) / double(frequency.QuadPart));
        log.Close();
    }
    // The files are removed with the folder's contents.
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*.txt").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
    std::printf("log (%s): %u CASH.ACCEPT records with %zu-byte descriptions, best of %u: %.3f s\n", Bench::kArch, records,
                text.size(), rounds, best);
    std::printf("log records per second (%s): %.0f\n", Bench::kArch, records / best);
    return 0;
}
