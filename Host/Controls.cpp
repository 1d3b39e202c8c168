#include "Host/Controls.h"

namespace Host {

namespace {

std::wstring WindowText(HWND window) {
    std::wstring text(size_t(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(size_t(GetWindowTextW(window, text.data(), int(text.size()))));
    return text;
}

}  // namespace

std::wstring Visible(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'\r') out += L"\\r";
        else if (c == L'\n') out += L"\\n";
        else if (c == L'\u00A0') out += L"~";
        else out += c;
    }
    return out;
}

HWND ControlOf(HWND parent, long long id) {
    HWND control = id >= 0 && id <= 0xFFFF ? GetDlgItem(parent, int(id)) : nullptr;
    if (!control) Fail(L"there is no control " + std::to_wstring(id));
    return control;
}

void ClickControl(HWND control, long long id) {
    if (!IsWindowVisible(control)) Fail(L"control " + std::to_wstring(id) + L" is hidden and cannot be clicked");
    if (!IsWindowEnabled(control)) Fail(L"control " + std::to_wstring(id) + L" is disabled and cannot be clicked");
    SendMessageW(control, BM_CLICK, 0, 0);
}

void ExpectControl(Scenario& scenario, Line& line, HWND control, const std::wstring& subject) {
    size_t kind = line.Keyword({L"=", L"has", L"checked", L"unchecked", L"enabled", L"disabled"});
    std::wstring text = Visible(WindowText(control));
    if (kind <= 1) {
        std::wstring wanted = line.Rest();
        bool holds = kind == 0 ? text == wanted : text.find(wanted) != std::wstring::npos;
        scenario.Check(line, holds, subject + (kind == 0 ? L" = \"" : L" has \"") + wanted + L"\"", L"\"" + text + L"\"");
        return;
    }
    if (kind <= 3) {
        LRESULT state = SendMessageW(control, BM_GETCHECK, 0, 0);
        const wchar_t* found = state == BST_CHECKED ? L"checked" : state == BST_INDETERMINATE ? L"indeterminate" : L"unchecked";
        scenario.Check(line, (state == BST_CHECKED) == (kind == 2), subject + (kind == 2 ? L" checked" : L" unchecked"), found);
        return;
    }
    bool enabled = IsWindowEnabled(control);
    scenario.Check(line, enabled == (kind == 4), subject + (kind == 4 ? L" enabled" : L" disabled"),
                   enabled ? L"enabled" : L"disabled");
}

}  // namespace Host
