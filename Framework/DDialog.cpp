#include "Framework/DDialog.h"

#include <commctrl.h>

#include "Framework/Exceptions.h"
#include "Framework/Messages.h"

namespace {
const char kSource[] = "Framework/DDialog";
}

DDialog::DDialog(HINSTANCE module, const wchar_t* templateName, HWND owner)
    : module_(module), template_(templateName), owner_(owner) {}

INT_PTR DDialog::Execute() {
    // Templates may hold up-down controls and the like, whose classes must exist first.
    static const bool registered = [] {
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS | ICC_LISTVIEW_CLASSES};
        return InitCommonControlsEx(&classes) != FALSE;
    }();
    (void)registered;
    SetLastError(0);
    INT_PTR result = DialogBoxParamW(module_, template_.c_str(), owner_, Proc, reinterpret_cast<LPARAM>(this));
    window_ = nullptr;
    if (result == -1) {
        DWORD error = GetLastError();
        throw WindowsError(error ? error : ERROR_RESOURCE_NAME_NOT_FOUND, kSource, __LINE__);
    }
    return result;
}

bool DDialog::Command(WORD id, WORD, HWND) {
    if (id == IDOK) Ok();
    else if (id == IDCANCEL) Cancel();
    else return false;
    return true;
}

bool DDialog::Message(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

void DDialog::EndDialog(INT_PTR result) { ::EndDialog(window_, result); }

std::wstring DDialog::Text(int id) const {
    HWND item = Item(id);
    std::wstring text(size_t(GetWindowTextLengthW(item)) + 1, L'\0');
    text.resize(size_t(GetWindowTextW(item, text.data(), int(text.size()))));
    return text;
}

INT_PTR CALLBACK DDialog::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<DDialog*>(lParam)->window_ = window;
    }
    auto* dialog = reinterpret_cast<DDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!dialog) return FALSE;
    // Nothing may unwind through the system's dialog code: a failure is shown, and the dialog stays.
    try {
        return dialog->Dispatch(message, wParam, lParam);
    } catch (const VelmorException& error) {
        ErrorMessage(window, error.ReasonW());
    } catch (const std::exception& error) {
        ErrorMessage(window, error.what());
    } catch (...) {
        ErrorMessage(window, std::wstring(L"unknown failure"));
    }
    return TRUE;
}

INT_PTR DDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return InitDialog();
    case WM_COMMAND:
        return Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
    default: {
        INT_PTR result = 0;
        if (!Message(message, wParam, lParam, result)) return FALSE;
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, result);
        return TRUE;
    }
    }
}
