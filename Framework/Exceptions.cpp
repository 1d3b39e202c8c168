#include "Framework/Exceptions.h"
#include "Framework/Text.h"

VelmorException::VelmorException(const std::wstring& reason) : reason_(Narrow(reason)), wide_(reason) {}

std::wstring VelmorException::ReasonW() const { return wide_ ? *wide_ : Widen(reason_); }

CoError::CoError(HRESULT code, HMODULE module, const char* file, int line)
    : code_(code), module_(module), file_(file ? file : ""), line_(line) {
    SetReason(FormatBuffer(512, "COM error %08lX at \"%s\":%i", static_cast<unsigned long>(code), file_.c_str(), line));
}

WindowsError::WindowsError(DWORD code, const char* file, int line) : code_(code) {
    SetReason(FormatBuffer(512, "Windows system call error %i (%08X) at \"%s\":%i", int(code), unsigned(code),
                           file ? file : "", line));
}

OleAutoException::OleAutoException(WORD code, std::wstring source, std::wstring description, std::string reason)
    : VelmorException(reason.empty() ? Narrow(description) : std::move(reason)), code_(code),
      source_(std::move(source)), description_(std::move(description)) {}

std::optional<std::wstring> ReasonOf(const std::exception_ptr& failure) {
    if (!failure) return std::nullopt;
    try {
        std::rethrow_exception(failure);
    } catch (const VelmorException& error) {
        return error.ReasonW();
    } catch (...) {
    }
    return std::nullopt;
}
