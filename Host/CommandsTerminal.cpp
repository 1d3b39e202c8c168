// Scenario commands of the terminal's life: the plugin's start and exit, the control panel, named
// events, the environment session and the terminal's notifications.
#include "Host/Controls.h"
#include "Host/Scenario.h"
#include "Framework/Com.h"
#include "Framework/Paths.h"
#include "Host/Snapshot.h"

namespace Host {

namespace {

void Control(Scenario& scenario, Line& line) {
    Terminal& terminal = scenario.Host();
    size_t what = line.Keyword({L"open", L"command", L"apply", L"close", L"click", L"snapshot"});
    if (what == 0) {
        scenario.ControlPlugin() = scenario.CreateControlPlugin();
        SetErrorInfo(0, nullptr);
        HRESULT hr = scenario.ControlPlugin()->AttachControl(&terminal.Panel());
        if (FAILED(hr)) terminal.RecordPluginFailure(L"AttachControl", hr);
        PumpMessages(0);  // what the page posted to itself while it was set up
    } else if (what == 1 || what == 2) {
        bool apply = what == 2;
        std::wstring name = apply ? L"apply" : L"command";
        long id = apply ? 0 : long(line.Number());
        if (terminal.Panel().Pages().empty()) Fail(L"no control page is open");
        for (auto& page : terminal.Panel().Pages()) {
            long result = 0, changed = 0;
            SetErrorInfo(0, nullptr);
            HRESULT hr = apply ? page.page->Apply(Variant().Get(), Variant().Get(), &changed, &result)
                               : page.page->Command(id, 0, &result);
            if (FAILED(hr))
                terminal.RecordPluginFailure(L"control " + name, hr);
            else
                terminal.transcript.Add(L"host", L"control " + name + L" answered " + std::to_wstring(result) +
                                                     (apply ? L", changed " + std::to_wstring(changed) : L""));
        }
        PumpMessages(0);
    } else if (what == 4) {
        long id = long(line.Number());
        HWND control = PageControl(scenario, id);
        terminal.transcript.Add(L"host", L"control click " + std::to_wstring(id));
        // As a mouse click: the button notifies the page window, which the panel hands to the page.
        ClickControl(control, id);
        PumpMessages(0);
    } else if (what == 5) {
        std::wstring path = ExpEnv(line.Rest());
        if (terminal.Panel().Pages().empty()) Fail(L"no control page is open");
        PumpMessages(0);
        SnapshotWindow(terminal.Panel().Pages().front().window, path);
        terminal.transcript.Add(L"host", L"control snapshot " + path);
    } else {
        terminal.Panel().Close();
        scenario.ControlPlugin().Reset();
        terminal.transcript.Add(L"host", L"control panel closed");
    }
}

void SetSessionProperty(Terminal& terminal, Line& line) {
    std::wstring name = line.Word();
    line.Expect(L"=");
    std::wstring value = line.Rest();
    terminal.transcript.Add(L"host", L"session set " + name + L" = " + value);
    auto extenders = terminal.Environment().Extenders();
    for (auto& extender : extenders) {
        SetErrorInfo(0, nullptr);
        HRESULT hr = extender->OnSetProperty(&terminal.Environment(), CoString(name), CoString(value));
        if (FAILED(hr)) terminal.RecordPluginFailure(L"session set", hr);
    }
}

void SessionSlot(Scenario& scenario, Line& line) {
    static const wchar_t* const kWords[] = {L"create", L"start", L"end", L"clear"};
    using Slot = HRESULT (STDMETHODCALLTYPE IPaylantraSessionExtender2::*)(IDispatch*);
    static const Slot kSlots[] = {&IPaylantraSessionExtender2::OnSessionCreate, &IPaylantraSessionExtender2::OnSessionStart,
                                  &IPaylantraSessionExtender2::OnSessionEnd, &IPaylantraSessionExtender2::OnClearProperties};
    size_t what = line.Keyword({kWords[0], kWords[1], kWords[2], kWords[3], L"set"});
    Terminal& terminal = scenario.Host();
    if (what == 4) {
        SetSessionProperty(terminal, line);
        return;
    }
    terminal.transcript.Add(L"host", std::wstring(L"session ") + kWords[what]);
    auto extenders = terminal.Environment().Extenders();
    for (auto& extender : extenders) {
        SetErrorInfo(0, nullptr);
        HRESULT hr = (extender.Get()->*kSlots[what])(&terminal.Environment());
        if (FAILED(hr)) terminal.RecordPluginFailure(std::wstring(L"session ") + kWords[what], hr);
    }
}

}  // namespace

void AddTerminalCommands(CommandTable& commands) {
    commands.Add(L"install",
                 L"loads the plugin if needed and calls its export `PaylantraPlugin_InstallInit` as the host does (by "
                 L"name, plain C convention, a null pointer and a zero flag); the answer is kept for `expect install`",
                 [](Scenario& scenario, Line&) { scenario.Install(); });
    commands.Add(L"start",
                 L"creates the plugin object, `Attach`, then `OnStart` to every terminal extender. Once an installation "
                 L"wrote the plugin key's \"CLSID\", the object is made with that class ID through `CoCreateInstance`; "
                 L"with `--fresh`, whose scratch classes root Wine's COM does not read, the simulator follows the "
                 L"class's `InProcServer32` itself (that file, `DllGetClassObject`, `CreateInstance`). Before an "
                 L"installation it comes straight from the DLL, loaded if needed",
                 [](Scenario& scenario, Line&) { scenario.Start(); });
    commands.Add(L"exit", L"`OnExit` to every terminal extender, then releases extenders and plugin objects",
                 [](Scenario& scenario, Line&) {
                     if (!scenario.Started()) Fail(L"the terminal is not started");
                     scenario.Exit();
                 });
    commands.Add(L"control open|command ID|click ID|apply|snapshot FILE.png|close",
                 L"open: creates the control plugin object (as `start` does, with the \"CLSID\" of "
                 L"`Control Plugins\\Tallymark`) and calls `AttachControl` with the panel (the panel builds "
                 L"each added page's window from its dialog template in the plugin and hands it over with "
                 L"`SetPageWindow`); command, apply: the page's `Command` with that id, its `Apply`; click: clicks "
                 L"control ID of the page as a person would (`BM_CLICK`), so its notification reaches the page through "
                 L"the panel; snapshot: writes a picture of the page; close: destroys the windows, releases page and object",
                 Control);
    commands.Add(L"event NAME",
                 L"raises a named terminal event: `OnEvent` to each terminal extender, slot 11 to each session extender",
                 [](Scenario& scenario, Line& line) {
                     std::wstring name = line.Rest();
                     if (name.empty()) Fail(L"event needs a name");
                     scenario.Host().transcript.Add(L"host", WithPlainWords(L"event " + name));
                     scenario.Host().DeliverEvent(name);
                 });
    commands.Add(L"prop NAME = TEXT", L"sets an environment-session property (the host's own write)",
                 [](Scenario& scenario, Line& line) {
                     std::wstring name = line.Word();
                     line.Expect(L"=");
                     std::wstring value = line.Rest();
                     scenario.Host().Environment().PutProperty(name, value);
                     scenario.Host().transcript.Add(L"host", L"prop " + name + L" = " + value);
                 });
    commands.Add(L"session create|start|end|clear|set NAME = TEXT",
                 L"calls slot 8, 10, 13 or 7 of each session extender with the environment session; set: slot 14 with "
                 L"the environment session, NAME and TEXT",
                 SessionSlot);
    commands.Add(L"stacker remove|insert", L"`OnStackerRemoved` (with the environment session) / `OnStackerInstalled`",
                 [](Scenario& scenario, Line& line) {
                     Terminal& terminal = scenario.Host();
                     if (line.Keyword({L"remove", L"insert"}) == 0) {
                         terminal.transcript.Add(L"host", WithPlainWords(L"stacker removed"));
                         terminal.NotifyStackerRemoved();
                     } else {
                         terminal.transcript.Add(L"host", WithPlainWords(L"stacker inserted"));
                         terminal.NotifyStackerInstalled();
                     }
                 });
    commands.Add(L"failure NAME on|off", L"`OnTerminalFailure`", [](Scenario& scenario, Line& line) {
        std::wstring name = line.Word();
        bool on = line.Keyword({L"on", L"off"}) == 0;
        scenario.Host().transcript.Add(L"host", L"terminal failure " + name + (on ? L" on" : L" off"));
        scenario.Host().NotifyFailure(name, on);
    });
    commands.Add(L"zreport", L"`OnZReportReady`, then `OnZReportDone`", [](Scenario& scenario, Line&) {
        scenario.Host().transcript.Add(L"host", L"Z-report");
        scenario.Host().NotifyZReport(false);
        scenario.Host().NotifyZReport(true);
    });
}

}  // namespace Host
