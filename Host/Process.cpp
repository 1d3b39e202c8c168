#include "Host/Process.h"
#include "Framework/Exceptions.h"

namespace Host {

std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

ChildProcess::ChildProcess(const std::wstring& program, const std::vector<std::wstring>& args, bool quiet) {
    std::wstring command = QuoteArgument(program);
    for (const std::wstring& arg : args) command += L" " + QuoteArgument(arg);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    if (quiet) {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        nul_ = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
        startup.hStdInput = startup.hStdOutput = startup.hStdError = nul_;
    } else {
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
            if (handle && handle != INVALID_HANDLE_VALUE) SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process_)) {
        DWORD error = GetLastError();
        if (nul_ != INVALID_HANDLE_VALUE) CloseHandle(nul_);
        throw WindowsError(error, "Host/Process", __LINE__);
    }
}

ChildProcess::~ChildProcess() {
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    if (nul_ != INVALID_HANDLE_VALUE) CloseHandle(nul_);
}

bool ChildProcess::Wait(DWORD milliseconds) {
    if (WaitForSingleObject(process_.hProcess, milliseconds) == WAIT_OBJECT_0) return true;
    TerminateProcess(process_.hProcess, WAIT_TIMEOUT);
    WaitForSingleObject(process_.hProcess, 10000);
    return false;
}

DWORD ChildProcess::ExitCode() const {
    DWORD status = 1;
    GetExitCodeProcess(process_.hProcess, &status);
    return status;
}

}  // namespace Host
