#include "xdk/Source/Paylantra/ControlPluginPage.h"
#include "Framework/Messages.h"
#include "Framework/Numbers.h"
#include "Framework/Text.h"
#include <prsht.h>
#include <vector>

namespace PLXDK::Standard {

namespace {

const char kSource[] = "xdk/Source/Paylantra/ControlPluginPage";

std::wstring FieldProblem(const std::wstring& field, const std::wstring& problem) {
    return L"Поле \"" + field + L"\": " + problem;
}

// " (FIELD)" when a field name is given.
std::wstring NamedField(const std::wstring& field) { return field.empty() ? std::wstring() : L" (" + field + L")"; }

}  // namespace

std::wstring WindowText(HWND window) {
    int length = GetWindowTextLengthW(window);
    if (length <= 0) return {};
    std::vector<wchar_t> buffer(size_t(length) + 1);
    int copied = GetWindowTextW(window, buffer.data(), length + 1);
    return std::wstring(buffer.data(), size_t(copied > 0 ? copied : 0));
}

ControlPluginPage::ControlPluginPage(IDispatch* panel) : panel_(co<IDispatch>::Share(panel)) {}

STDMETHODIMP ControlPluginPage::SetPageWindow(long window, long* accepted) {
    return PAYLANTRA_METHOD(kSource, [&] {
        bool ok = OnPageWindow(static_cast<HWND>(LongToHandle(window)));
        if (accepted) *accepted = ok;
    });
}

STDMETHODIMP ControlPluginPage::Reserved8(long* result) {
    if (result) *result = 0;
    return S_OK;
}

STDMETHODIMP ControlPluginPage::Command(long wParam, long lParam, long* handled) {
    return PAYLANTRA_METHOD(kSource, [&] {
        bool done = OnCommand(WPARAM(DWORD(wParam)), reinterpret_cast<LPARAM>(LongToHandle(lParam)));
        if (handled) *handled = done;
    });
}

STDMETHODIMP ControlPluginPage::Help(long helpInfo, long* handled) {
    return PAYLANTRA_METHOD(kSource, [&] {
        bool done = OnHelp(static_cast<const HELPINFO*>(LongToPtr(helpInfo)));
        if (handled) *handled = done;
    });
}

STDMETHODIMP ControlPluginPage::Apply(VARIANT, VARIANT, long* changed, long* done) {
    return PAYLANTRA_METHOD(kSource, [&] {
        bool ok = OnApply(changed);
        if (done) *done = ok;
    });
}

bool ControlPluginPage::OnPageWindow(HWND window) {
    window_ = window;
    return true;
}

bool ControlPluginPage::OnCommand(WPARAM, LPARAM) { return false; }

bool ControlPluginPage::OnHelp(const HELPINFO*) { return false; }

bool ControlPluginPage::OnApply(long*) { return true; }

void ControlPluginPage::ActivateControl(HWND control) {
    if (HWND sheet = GetParent(window_)) {
        LRESULT index = SendMessageW(sheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(window_), 0);
        PostMessageW(sheet, PSM_SETCURSEL, WPARAM(index), 0);
    }
    PostMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

bool ControlPluginPage::AskInvalidValue(HWND control, const std::wstring& field, const std::wstring& problem) {
    std::wstring text = FieldProblem(field, problem) + L"\r\n\"Отмена\" - исправить значение.";
    if (PageMessage(text, MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON2) != IDCANCEL) return false;
    ActivateControl(control);
    return true;
}

void ControlPluginPage::ReportInvalidValue(HWND control, const std::wstring& field, const std::wstring& problem) {
    PageError(FieldProblem(field, problem));
    ActivateControl(control);
}

int ControlPluginPage::PageMessage(const std::wstring& text, UINT style, HWND owner, const wchar_t* caption,
                                   unsigned flags) {
    if (!owner && !(flags & kKeepNullOwner)) owner = window_;
    std::wstring title = caption ? caption : (flags & kKeepNullCaption) ? L"" : title_;
    return AppMessage(owner, text, title, style);
}

int ControlPluginPage::PageError(const std::wstring& text, HWND owner, const wchar_t* caption, unsigned flags) {
    if (!owner && !(flags & kKeepNullOwner)) owner = window_;
    std::wstring title = caption ? caption : (flags & kKeepNullCaption) ? L"" : title_;
    return ErrorMessage(owner, text, title);
}

bool ControlPluginPage::CheckNotEmpty(HWND control, const std::wstring& field) {
    if (!WindowText(control).empty()) return true;
    return !AskInvalidValue(control, field, L"пустое/незаданное значение" + NamedField(field) + L".");
}

bool ControlPluginPage::CheckNoOuterBlanks(HWND control, const std::wstring& field) {
    std::wstring text = WindowText(control);
    const wchar_t* where = !text.empty() && IsBlank(text.front()) ? L"начале"
                           : !text.empty() && IsBlank(text.back()) ? L"конце"
                                                                  : nullptr;
    if (!where) return true;
    std::wstring why = field.empty() ? L" (во избежание двусмысленности дальнейшего использования данного значения "
                                       L"рекомендуется не вставлять пробелы в начале и в конце)"
                                     : NamedField(field);
    return !AskInvalidValue(control, field, L"пробелы в " + std::wstring(where) + L" текста" + why + L".");
}

bool ControlPluginPage::CheckPasswordRepeat(HWND control, HWND repeat, const std::wstring& field) {
    if (WindowText(control) != WindowText(repeat)) {
        ReportInvalidValue(repeat, field.empty() ? L"Пароль" : field,
                           L"повторный ввод не соответствует паролю, введите пароль ещё раз.");
        return false;
    }
    return CheckNotEmpty(control, field) && CheckNoOuterBlanks(control, field);
}

bool ControlPluginPage::ScanInteger(HWND control, const std::wstring& field, long long& value) {
    std::wstring text = WindowText(control);
    long long number = 0;
    if (!ScanNumberEx(Narrow(text), number, 2)) {
        ReportInvalidValue(control, field, L"ошибка формата целого числа (\"" + text + L"\")");
        return false;
    }
    value = number;
    return true;
}

}  // namespace PLXDK::Standard
