// An open file handle owned by its holder, and saving a whole text file through it.
#pragma once
#include <windows.h>
#include <string>

class FilePort {
public:
    FilePort() = default;
    explicit FilePort(HANDLE handle) : handle_(handle) {}
    FilePort(FilePort&& other) noexcept : handle_(other.handle_) { other.handle_ = INVALID_HANDLE_VALUE; }
    FilePort& operator=(FilePort&& other) noexcept;
    FilePort(const FilePort&) = delete;
    FilePort& operator=(const FilePort&) = delete;
    ~FilePort() { Close(); }

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE Handle() const { return handle_; }
    void Close();

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Writes the text's bytes from the start of the file and ends the file there. WindowsError when the
// file cannot be written or cut.
bool SaveFile(FilePort& port, const std::string& text);
