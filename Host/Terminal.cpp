#include "Host/HostObjects.h"
#include "Framework/Com.h"

namespace Host {

namespace {

std::wstring ErrorDescription() {
    IErrorInfo* info = nullptr;
    std::wstring text;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR description = nullptr;
        if (SUCCEEDED(info->GetDescription(&description)) && description) text.assign(description, SysStringLen(description));
        SysFreeString(description);
        info->Release();
    }
    return text;
}

constexpr int kMaxEventDepth = 16;

}  // namespace

Terminal::Terminal()
    : terminal_(co<TerminalObject>::Attach(new TerminalObject(this))),
      environment_(co<Session>::Attach(new Session(this, L"environment"))),
      application_(co<Application>::Attach(new Application(this))),
      extenders_(co<TerminalExtenders>::Attach(new TerminalExtenders(this))),
      cash_(co<Cash>::Attach(new Cash(this))),
      flags_(co<Flags>::Attach(new Flags(this))),
      devices_(co<Devices>::Attach(new Devices(this, flags_.Get()))),
      panel_(co<ControlPanel>::Attach(new ControlPanel(this))) {}

Terminal::~Terminal() {
    ReleaseExtenders();
    if (cash_->Active()) {
        cash_->Active()->DropSinks();
        cash_->Active()->Detach();
        cash_->Active().Reset();
    }
    terminal_->Detach();
    environment_->Detach();
    application_->Detach();
    extenders_->Detach();
    cash_->Detach();
    flags_->Detach();
    devices_->Detach();
    panel_->Detach();
}

std::wstring WithPlainWords(const std::wstring& line) {
    static const std::pair<const wchar_t*, const wchar_t*> kWords[] = {
        {L"event Tallymark.Collect.Init", L"the collector opens the collection on the screen"},
        {L"event Tallymark.Collect.Done", L"the collector confirms the collection: record, receipts, fiscal report"},
        {L"event Tallymark.Collect.Close", L"the collector closes the collection"},
        {L"event Tallymark.Collect.Cancel", L"the collector cancels the collection"},
        {L"stacker removed", L"the collector takes the full stacker out"},
        {L"stacker inserted", L"the collector puts the empty stacker back"},
        {L"navigate Paylantra:collect", L"the terminal shows the collection screen"},
        {L"navigate Paylantra:start", L"the terminal is back at its start screen"},
        {L"finish cash", L"the bill acceptor is told the collection is over"},
    };
    for (const auto& [step, words] : kWords)
        if (line == step) return line + L"  -- " + words;
    return line;
}

HRESULT Terminal::FailureOf(const std::wstring& method) const {
    if (method == failCall_.method) {
        auto made = calls.find(method);
        if (made != calls.end() &&
            (made->second == failCall_.occurrence || (failCall_.persist && made->second > failCall_.occurrence))) {
            failCall_.fired = true;
            return failCall_.hr;
        }
    }
    auto found = failures_.find(method);
    return found == failures_.end() ? S_OK : found->second;
}

void Terminal::RecordPluginFailure(const std::wstring& call, HRESULT hr) {
    ++pluginFailures;
    std::wstring description = ErrorDescription();
    transcript.Add(L"host", call + L" failed: " + HResultText(hr) + (description.empty() ? L"" : L" " + description));
}

template <class Call>
void Terminal::ForEachExtender(const wchar_t* what, Call call) {
    auto items = extenders_->Items();  // an extender may be added or dropped meanwhile
    for (auto& extender : items) {
        SetErrorInfo(0, nullptr);
        HRESULT hr = call(extender.Get());
        if (FAILED(hr)) RecordPluginFailure(what, hr);
    }
}

HRESULT Terminal::DeliverEvent(const std::wstring& name) {
    if (eventDepth_ >= kMaxEventDepth) {
        transcript.Add(L"host", L"event " + name + L" not delivered: events nested too deep");
        return S_OK;
    }
    ++eventDepth_;
    CoString text(name);
    IDispatch* terminal = terminal_.Get();
    ForEachExtender(L"OnEvent", [&](IPaylantraTerminalExtender* e) { return e->OnEvent(terminal, text); });
    // A session extender's failure is the event's: the one who raised it learns of it.
    HRESULT first = S_OK;
    std::wstring firstDescription;
    auto sessionExtenders = environment_->Extenders();
    for (auto& extender : sessionExtenders) {
        SetErrorInfo(0, nullptr);
        HRESULT hr = extender->OnSessionEvent(environment_.Get(), text);
        if (FAILED(hr) && SUCCEEDED(first)) {
            first = hr;
            firstDescription = ErrorDescription();
            transcript.Add(L"host", L"OnSessionEvent failed: " + HResultText(hr) +
                                        (firstDescription.empty() ? L"" : L" " + firstDescription));
        } else if (FAILED(hr)) {
            RecordPluginFailure(L"OnSessionEvent", hr);
        }
    }
    --eventDepth_;
    if (FAILED(first)) RecordErrorInfo(firstDescription, kPaylantraErrorSource, 0);
    return first;
}

void Terminal::NotifyStart() {
    ForEachExtender(L"OnStart", [&](IPaylantraTerminalExtender* e) { return e->OnStart(terminal_.Get()); });
}

void Terminal::NotifyExit() {
    ForEachExtender(L"OnExit", [&](IPaylantraTerminalExtender* e) { return e->OnExit(terminal_.Get()); });
}

void Terminal::NotifyFailure(const std::wstring& name, bool set) {
    CoString text(name);
    ForEachExtender(L"OnTerminalFailure",
                    [&](IPaylantraTerminalExtender* e) { return e->OnTerminalFailure(terminal_.Get(), text, set ? 1 : 0); });
}

void Terminal::NotifyStackerRemoved() {
    ForEachExtender(L"OnStackerRemoved",
                    [&](IPaylantraTerminalExtender* e) { return e->OnStackerRemoved(environment_.Get()); });
}

void Terminal::NotifyStackerInstalled() {
    ForEachExtender(L"OnStackerInstalled",
                    [&](IPaylantraTerminalExtender* e) { return e->OnStackerInstalled(terminal_.Get()); });
}

void Terminal::NotifyZReport(bool done) {
    ForEachExtender(done ? L"OnZReportDone" : L"OnZReportReady", [&](IPaylantraTerminalExtender* e) {
        return done ? e->OnZReportDone(environment_.Get()) : e->OnZReportReady(environment_.Get());
    });
}

size_t Terminal::KeptBytes() const {
    size_t bytes = transcript.HeldBytes();
    for (const auto* texts : KeptLists(*this)) {
        bytes += texts->capacity() * sizeof(std::wstring);
        for (const std::wstring& text : *texts) bytes += HeldTextBytes(text);
    }
    return bytes;
}

void Terminal::Forget() {
    transcript.Clear();
    for (auto* texts : KeptLists(*this)) std::vector<std::wstring>().swap(*texts);
}

CashSession& Terminal::BeginCashSession() {
    if (cash_->Active()) EndCashSession(false);
    cash_->Active() = co<CashSession>::Attach(new CashSession(this));
    transcript.Add(L"host", L"cash session begins");
    int failed = pluginFailures;
    DeliverEvent(L"Tallymark.OnCashSession");
    cash_->Active()->startFailed = pluginFailures > failed;
    return *cash_->Active().Get();
}

void Terminal::EndCashSession(bool raiseClose) {
    // The host signals the close of cash acceptance before the session lets go of its sinks.
    if (raiseClose) DeliverEvent(L"Tallymark.OnCashClose");
    DropCashSession();
}

void Terminal::AbortCashSession() {
    if (co<CashSession> active = cash_->Active()) {
        Variant sender(static_cast<IDispatch*>(active.Get()));
        active->Fire(L"OnCancel", [&](IPaylantraCashSessionEvents* sink) { return sink->OnCancel(sender.Get()); });
    }
    // The sinks go while acceptance still counts as open; the close follows.
    DropCashSession();
    DeliverEvent(L"Tallymark.OnCashClose");
}

void Terminal::DropCashSession() {
    if (co<CashSession> active = cash_->Active()) {
        cash_->Active().Reset();
        active->DropSinks();
        transcript.Add(L"host", L"cash session ends");
    }
}

void Terminal::ReleaseExtenders() {
    // The host lets go of everything the plugin handed it; the extenders' destructors run here.
    panel_->Close();
    environment_->Extenders().clear();
    extenders_->Items().clear();
}

}  // namespace Host
