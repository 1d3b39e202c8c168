// A modal dialog from a named template, with virtual handlers in place of a dialog procedure.
#pragma once
#include <windows.h>

#include <string>

class DDialog {
public:
    // `module` holds the template `templateName`; `owner` may be null.
    DDialog(HINSTANCE module, const wchar_t* templateName, HWND owner);
    virtual ~DDialog() = default;
    DDialog(const DDialog&) = delete;
    DDialog& operator=(const DDialog&) = delete;

    // Shows the dialog and returns the value given to EndDialog (IDOK, IDCANCEL, ...). Raises
    // WindowsError when the dialog cannot be made (no template, no window).
    INT_PTR Execute();
    HWND Window() const { return window_; }

protected:
    // WM_INITDIALOG. True lets the system give the focus to the first control.
    virtual bool InitDialog() { return true; }
    // WM_COMMAND: true when handled. By default IDOK calls Ok() and IDCANCEL calls Cancel().
    virtual bool Command(WORD id, WORD code, HWND control);
    virtual void Ok() { EndDialog(IDOK); }
    virtual void Cancel() { EndDialog(IDCANCEL); }
    // Every other message; true when handled (with `result` as the message's answer).
    virtual bool Message(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
    void EndDialog(INT_PTR result);

    // Control helpers on the open dialog.
    HWND Item(int id) const { return GetDlgItem(window_, id); }
    bool Checked(int id) const { return IsDlgButtonChecked(window_, id) == BST_CHECKED; }
    void Check(int id, bool checked) { CheckDlgButton(window_, id, checked ? BST_CHECKED : BST_UNCHECKED); }
    void Enable(int id, bool enabled) { EnableWindow(Item(id), enabled); }
    std::wstring Text(int id) const;
    void SetText(int id, const std::wstring& text) { SetDlgItemTextW(window_, id, text.c_str()); }

private:
    static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE module_;
    std::wstring template_;
    HWND owner_;
    HWND window_ = nullptr;
};
