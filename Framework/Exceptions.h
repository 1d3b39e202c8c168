// The framework's exception classes. Reason texts are narrow, in the ANSI code page.
#pragma once
#include <windows.h>
#include <exception>
#include <optional>
#include <string>

class VelmorException : public std::exception {
public:
    explicit VelmorException(std::string reason) : reason_(std::move(reason)) {}
    // Keeps the wide text as well: a reason the ANSI code page lacks stays whole in ReasonW.
    explicit VelmorException(const std::wstring& reason);
    const std::string& Reason() const noexcept { return reason_; }
    std::wstring ReasonW() const;
    const char* what() const noexcept override { return reason_.c_str(); }

protected:
    VelmorException() = default;
    void SetReason(std::string reason) {
        reason_ = std::move(reason);
        wide_.reset();
    }

private:
    std::string reason_;
    std::optional<std::wstring> wide_;
};

// A failure meant for a person: the reason is a Russian text.
class VMAppException : public VelmorException {
public:
    using VelmorException::VelmorException;
};

// A failed HRESULT of a checked COM call, with the module and the source position of the call.
class CoError : public VelmorException {
public:
    CoError(HRESULT code, HMODULE module, const char* file, int line);
    HRESULT Code() const noexcept { return code_; }
    const std::string& File() const noexcept { return file_; }
    int Line() const noexcept { return line_; }
    HMODULE Module() const noexcept { return module_; }

private:
    HRESULT code_;
    HMODULE module_;
    std::string file_;
    int line_;
};

// A failed system call: "Windows system call error %i (%08X) at \"<file>\":<line>".
class WindowsError : public VelmorException {
public:
    WindowsError(DWORD code, const char* file, int line);
    DWORD Code() const noexcept { return code_; }

private:
    DWORD code_;
};

// The program misused one of its own routines; the text is English.
class InternalError : public VelmorException {
public:
    using VelmorException::VelmorException;
};

// An automation error with its own code, source and description (wide, as OLE carries them).
class OleAutoException : public VelmorException {
public:
    OleAutoException(WORD code, std::wstring source, std::wstring description, std::string reason = {});
    WORD Code() const noexcept { return code_; }
    const std::wstring& Source() const noexcept { return source_; }
    const std::wstring& Description() const noexcept { return description_; }

private:
    WORD code_;
    std::wstring source_, description_;
};

class FileException : public VelmorException {
public:
    using VelmorException::VelmorException;
};

class FileAccessException : public FileException {
public:
    using FileException::FileException;
};

class ResourceException : public VelmorException {
public:
    using VelmorException::VelmorException;
};

// The reason of a framework exception; nothing for any other kind, whose text is not written for
// people. The one place where a caught exception becomes text: `ReasonOf(std::current_exception())`
// inside a catch block.
std::optional<std::wstring> ReasonOf(const std::exception_ptr& failure);

// Raises WindowsError with the calling thread's last error when `ok` is false.
#define CHECK_WIN32(ok, file) \
    do { if (!(ok)) throw WindowsError(GetLastError(), file, __LINE__); } while (0)
