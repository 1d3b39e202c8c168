// Plays the scenario's queued dialog steps inside the modal dialogs that open while a command runs.
#pragma once
#include "Host/Scenario.h"

namespace Host {

// While it lives, every modal dialog that opens on this thread gets the queued steps one at a time,
// each on a turn of the dialog's own message loop. When a dialog is open and no step is left, the
// command's line fails and the dialog is cancelled, so that nothing waits for a person.
class DialogPlayer {
public:
    DialogPlayer(Scenario& scenario, Line& command);
    ~DialogPlayer();
    DialogPlayer(const DialogPlayer&) = delete;
    DialogPlayer& operator=(const DialogPlayer&) = delete;

    // After the command: raises when steps are left over (and drops them).
    void Finish();
    // How many dialogs opened while it lived.
    int Opened() const { return opened_; }

private:
    static LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK Tick(HWND dialog, UINT, UINT_PTR, DWORD);
    void PlayNext(HWND dialog);

    Scenario& scenario_;
    Line& command_;
    HHOOK hook_ = nullptr;
    DialogPlayer* outer_ = nullptr;
    int opened_ = 0;
};

// Ends a modal dialog as its cancel button would, and for sure.
void CancelDialog(HWND dialog);

}  // namespace Host
