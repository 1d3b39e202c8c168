// The steps of `dialog` lines: queued now, played in the next modal dialog that opens.
#include "Framework/Paths.h"
#include "Host/Controls.h"
#include "Host/DialogPlayer.h"
#include "Host/Snapshot.h"

namespace Host {

namespace {

using StepAction = std::function<void(Scenario&, HWND dialog, Line& line)>;

void Queue(Scenario& scenario, const Line& line, StepAction action) {
    scenario.dialogSteps.push_back({line, std::move(action)});
}

// "ok" and "cancel" press the dialog's button of that id, or send its command when it has none.
void Press(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    if (button && IsWindowVisible(button) && IsWindowEnabled(button)) SendMessageW(button, BM_CLICK, 0, 0);
    else SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(button));
}

}  // namespace

void AddDialogSteps(CommandTable& steps) {
    steps.Add(L"click ID", L"clicks the control as a person would (BM_CLICK); a disabled or hidden control fails the line",
              [](Scenario& scenario, Line& line) {
                  long long id = line.Number();
                  Queue(scenario, line, [id](Scenario&, HWND dialog, Line&) { ClickControl(ControlOf(dialog, id), id); });
              });
    steps.Add(L"text ID = TEXT", L"sets the text of the control (an edit field, as if typed over)",
              [](Scenario& scenario, Line& line) {
                  long long id = line.Number();
                  line.Expect(L"=");
                  std::wstring text = line.Rest();
                  Queue(scenario, line, [id, text](Scenario&, HWND dialog, Line&) {
                      SetWindowTextW(ControlOf(dialog, id), text.c_str());
                  });
              });
    steps.Add(L"expect ID (= TEXT | has TEXT | checked | unchecked | enabled | disabled)",
              L"checks the control's text, check state or enabling when the step is played; reported on this line",
              [](Scenario& scenario, Line& line) {
                  long long id = line.Number();
                  // The step reads the rest of the line when it is played; its form is checked now.
                  Line at = line, form = line;
                  form.Keyword({L"=", L"has", L"checked", L"unchecked", L"enabled", L"disabled"});
                  line.Rest();
                  Queue(scenario, at, [id](Scenario& scenario, HWND dialog, Line& line) {
                      ExpectControl(scenario, line, ControlOf(dialog, id), L"dialog " + std::to_wstring(id));
                  });
              });
    steps.Add(L"ok", L"presses OK; a dialog that refuses it and stays open goes on with the next step",
              [](Scenario& scenario, Line& line) {
                  Queue(scenario, line, [](Scenario&, HWND dialog, Line&) { Press(dialog, IDOK); });
              });
    steps.Add(L"cancel", L"presses cancel", [](Scenario& scenario, Line& line) {
        Queue(scenario, line, [](Scenario&, HWND dialog, Line&) { Press(dialog, IDCANCEL); });
    });
    steps.Add(L"snapshot FILE.png", L"writes a picture of the open dialog", [](Scenario& scenario, Line& line) {
        std::wstring file = ExpEnv(line.Rest());
        if (file.empty()) Fail(L"dialog snapshot needs a file name");
        Queue(scenario, line, [file](Scenario& scenario, HWND dialog, Line&) {
            SnapshotWindow(dialog, file);
            scenario.Say(L"  host: picture of the dialog written to " + file);
        });
    });
}

}  // namespace Host
