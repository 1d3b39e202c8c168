#include "Framework/Messages.h"
#include "Framework/Paths.h"
#include "Framework/Text.h"

static std::wstring ExecutableName() { return GetFileName(ModuleFileNameW(nullptr)); }

int ErrorMessage(HWND owner, const std::wstring& text, const std::wstring& caption) {
    std::wstring title = caption.empty() ? ExecutableName() : caption;
    return MessageBoxW(owner, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

int ErrorMessage(HWND owner, const std::string& text, const std::string& caption) {
    return ErrorMessage(owner, Widen(text), Widen(caption));
}

int DebugMessage(HWND owner, const std::wstring& text, const std::wstring& caption) {
    return MessageBoxW(owner, text.c_str(), caption.empty() ? nullptr : caption.c_str(), MB_OK | MB_ICONINFORMATION);
}

int DebugMessage(HWND owner, const std::string& text, const std::string& caption) {
    return DebugMessage(owner, Widen(text), Widen(caption));
}

int AppMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
    return MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}
