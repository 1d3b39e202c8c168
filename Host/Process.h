// Starting this simulator's child runs: each file of --fresh, and each run of the fault driver.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace Host {

// One argument as CommandLineToArgvW reads it back: quoted, with the backslashes before a quote doubled.
std::wstring QuoteArgument(const std::wstring& arg);

// A started program. With `quiet` its output goes nowhere, otherwise into this program's, in order.
class ChildProcess {
public:
    ChildProcess(const std::wstring& program, const std::vector<std::wstring>& args, bool quiet);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    HANDLE Handle() const { return process_.hProcess; }
    // Waits at most `milliseconds` (INFINITE: for good); false when it still runs, and then it is ended.
    bool Wait(DWORD milliseconds);
    DWORD ExitCode() const;

private:
    PROCESS_INFORMATION process_{};
    HANDLE nul_ = INVALID_HANDLE_VALUE;
};

}  // namespace Host
