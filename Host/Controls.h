// What a person does to and sees of the controls of a window (the dialogs, the control page).
#pragma once
#include "Host/Scenario.h"

namespace Host {

// The control `id` of `parent`; raises when there is none.
HWND ControlOf(HWND parent, long long id);
// A text with CR, LF and the no-break space written as `\r`, `\n` and `~`, as scenarios write them.
std::wstring Visible(const std::wstring& text);
// Clicks a button as a person would (BM_CLICK); raises when it is hidden or disabled.
void ClickControl(HWND control, long long id);
// Reads "= TEXT", "has TEXT", "checked", "unchecked", "enabled" or "disabled" from `line` and
// checks it on the control; `subject` names the control in the report ("dialog 614"). In TEXT,
// `\r`, `\n` and `~` stand for CR, LF and the no-break space.
void ExpectControl(Scenario& scenario, Line& line, HWND control, const std::wstring& subject);

}  // namespace Host
