#include "Host/DialogPlayer.h"

#include <iterator>

namespace Host {

namespace {

// The player of this thread: hooks and timer procedures get no context of their own.
thread_local DialogPlayer* t_player = nullptr;
constexpr UINT_PTR kStepTimer = 0x7A11;
constexpr UINT kStepPace = 10;  // milliseconds between steps

bool IsModalDialogFrame(HWND window) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, int(std::size(name)));
    return lstrcmpW(name, L"#32770") == 0 && !(GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD);
}

std::wstring Caption(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, int(std::size(text)));
    return text;
}

}  // namespace

void CancelDialog(HWND dialog) {
    HWND button = GetDlgItem(dialog, IDCANCEL);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), LPARAM(button));
    // A dialog that ignores cancel is ended anyway: the scenario must go on.
    if (IsWindow(dialog) && IsWindowVisible(dialog)) EndDialog(dialog, IDCANCEL);
}

DialogPlayer::DialogPlayer(Scenario& scenario, Line& command) : scenario_(scenario), command_(command), outer_(t_player) {
    hook_ = SetWindowsHookExW(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
    t_player = this;
}

DialogPlayer::~DialogPlayer() {
    if (hook_) UnhookWindowsHookEx(hook_);
    t_player = outer_;
    scenario_.dialogSteps.clear();
}

void DialogPlayer::Finish() {
    if (scenario_.dialogSteps.empty()) return;
    size_t left = scenario_.dialogSteps.size();
    std::wstring first = scenario_.dialogSteps.front().line.Where();
    scenario_.dialogSteps.clear();
    Fail(std::to_wstring(left) + L" dialog step(s) left over, the first from " + first +
         (opened_ ? L"" : L"; no dialog opened"));
}

LRESULT CALLBACK DialogPlayer::CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && t_player) {
        auto window = reinterpret_cast<HWND>(wParam);
        // The first tick comes when the dialog's loop has nothing else to do: after its set-up and paint.
        if (IsModalDialogFrame(window) && SetTimer(window, kStepTimer, kStepPace, Tick)) ++t_player->opened_;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK DialogPlayer::Tick(HWND dialog, UINT, UINT_PTR, DWORD) {
    // An ended dialog is hidden until its loop returns; it takes no more steps.
    if (!t_player || !IsWindowVisible(dialog)) return;
    t_player->PlayNext(dialog);
}

void DialogPlayer::PlayNext(HWND dialog) {
    if (scenario_.dialogSteps.empty()) {
        KillTimer(dialog, kStepTimer);
        scenario_.Check(command_, false, L"a step for the dialog \"" + Caption(dialog) + L"\"",
                        L"none left; the dialog is cancelled");
        CancelDialog(dialog);
        return;
    }
    DialogStep step = std::move(scenario_.dialogSteps.front());
    scenario_.dialogSteps.pop_front();
    // Nothing may unwind through the dialog's loop: a failed step fails its line and play goes on.
    try {
        step.run(scenario_, dialog, step.line);
    } catch (const ScenarioError& error) {
        scenario_.Check(step.line, false, L"the dialog step to be done", error.Text());
    } catch (const VelmorException& error) {
        scenario_.Check(step.line, false, L"the dialog step to be done", error.ReasonW());
    } catch (const std::exception& error) {
        scenario_.Check(step.line, false, L"the dialog step to be done", Widen(error.what()));
    }
}

}  // namespace Host
