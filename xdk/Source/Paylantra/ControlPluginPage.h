// The base of a control panel page: the IPaylantraControlPage methods at the COM boundary, and the
// services a page uses to ask about and report invalid input.
#pragma once
#include "AppFrame/Include/PaylantraObject.h"
#include "AppFrame/Include/co.h"
#include <string>

namespace PLXDK::Standard {

class ControlPluginPage : public PaylantraObject2<IPaylantraControlPage> {
public:
    // Flags of PageMessage and PageError: keep a null owner or caption as it is.
    enum : unsigned { kKeepNullOwner = 1, kKeepNullCaption = 2 };

    explicit ControlPluginPage(IDispatch* panel);

    // IPaylantraControlPage. Each catches at the boundary and fails the COM way.
    STDMETHODIMP SetPageWindow(long window, long* accepted) override;
    STDMETHODIMP Reserved8(long* result) override;
    STDMETHODIMP Command(long wParam, long lParam, long* handled) override;
    STDMETHODIMP Help(long helpInfo, long* handled) override;
    STDMETHODIMP Apply(VARIANT a1, VARIANT a2, long* changed, long* done) override;

    HWND GetPageWindow() const { return window_; }
    // Brings the page forward in the panel's property sheet and moves the focus to `control`.
    void ActivateControl(HWND control);
    // Asks whether to keep an invalid value; true when the user chose to correct it (Cancel),
    // with the control activated.
    bool AskInvalidValue(HWND control, const std::wstring& field, const std::wstring& problem);
    // Shows the problem as an error and activates the control.
    void ReportInvalidValue(HWND control, const std::wstring& field, const std::wstring& problem);
    // A null owner becomes the page window, a null caption the page title, unless the flags keep them.
    int PageMessage(const std::wstring& text, UINT style, HWND owner = nullptr, const wchar_t* caption = nullptr,
                    unsigned flags = 0);
    int PageError(const std::wstring& text, HWND owner = nullptr, const wchar_t* caption = nullptr, unsigned flags = 0);
    // True when the control's text is accepted: non-empty, or kept by the user.
    bool CheckNotEmpty(HWND control, const std::wstring& field = {});
    // True when the text has no blank at either end, or the user kept it.
    bool CheckNoOuterBlanks(HWND control, const std::wstring& field = {});
    // True when both texts agree and the first passes CheckNotEmpty and CheckNoOuterBlanks.
    bool CheckPasswordRepeat(HWND control, HWND repeat, const std::wstring& field = {});
    // The control's text as an integer ("12", "-3"); a malformed one is reported, and false answered.
    bool ScanInteger(HWND control, const std::wstring& field, long long& value);

protected:
    ~ControlPluginPage() override = default;
    // What the page does for each method; the defaults are the base's answers.
    virtual bool OnPageWindow(HWND window);
    virtual bool OnCommand(WPARAM wParam, LPARAM lParam);
    virtual bool OnHelp(const HELPINFO* request);
    // Writes the held changes; `changed` (when given) is set to 1 when there were any.
    virtual bool OnApply(long* changed);

    IDispatch* Panel() const { return panel_.Get(); }
    void SetTitle(std::wstring title) { title_ = std::move(title); }

private:
    co<IDispatch> panel_;
    HWND window_ = nullptr;
    std::wstring title_;
};

// The text of a window (a control), whole.
std::wstring WindowText(HWND window);

}  // namespace PLXDK::Standard
