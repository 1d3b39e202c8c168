// Message boxes. Every box of the plugin goes through MessageBoxW.
#pragma once
#include <windows.h>
#include <string>

// A modal error box; an empty caption shows the executable's file name.
int ErrorMessage(HWND owner, const std::wstring& text, const std::wstring& caption = {});
int ErrorMessage(HWND owner, const std::string& text, const std::string& caption = {});
// A diagnostic box shown only when asked for by a debug switch (the callers check the switch).
int DebugMessage(HWND owner, const std::wstring& text, const std::wstring& caption = {});
int DebugMessage(HWND owner, const std::string& text, const std::string& caption = {});
// An information box for people, with the given buttons and icon (MB_* flags).
int AppMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type = MB_OK | MB_ICONINFORMATION);
