// The simulated terminal host: every host object the plugin calls, observable from outside.
// Everything the plugin does to the host is written to the transcript.
#pragma once
#include "AppFrame/Include/PaylantraObject.h"
#include "AppFrame/Include/co.h"
#include "Framework/Text.h"
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Host {

class Terminal;

// One line of what happened: who acted ("plugin", "host") and what, in words.
struct Record {
    std::wstring who;
    std::wstring what;
};

// The heap a text holds beyond the string's in-place buffer.
size_t HeldTextBytes(const std::wstring& text);

class Transcript {
public:
    void Add(const std::wstring& who, const std::wstring& what);
    const std::vector<Record>& Records() const { return records_; }
    // The heap the records hold: the vector's slots and each text beyond the in-place buffer.
    size_t HeldBytes() const;
    void Clear() { std::vector<Record>().swap(records_); }
    // Each new record is also passed here (the simulator prints it as it happens).
    std::function<void(const Record&)> echo;

private:
    std::vector<Record> records_;
};

// The host objects' common base: a back pointer to their terminal and the failure switch check.
template <class I>
class HostObject : public PaylantraObject2<I> {
public:
    explicit HostObject(Terminal* host) : host_(host) {}
    void Detach() { host_ = nullptr; }

protected:
    // S_OK, or the failure the simulator was told to give for this method ("Session.GetProperty").
    HRESULT Enter(const wchar_t* method) const;
    Terminal* host_;
};

class Session : public HostObject<IPaylantraSession> {
public:
    Session(Terminal* host, std::wstring name) : HostObject(host), name_(std::move(name)) {}
    STDMETHODIMP Finish() override;
    STDMETHODIMP Reserved8() override { return S_OK; }
    STDMETHODIMP Event(BSTR name) override;
    STDMETHODIMP Reserved10() override { return S_OK; }
    STDMETHODIMP SetProperty(BSTR name, BSTR value) override;
    STDMETHODIMP GetProperty(BSTR name, BSTR* value) override;
    STDMETHODIMP Reserved13() override { return S_OK; }
    STDMETHODIMP AddExtender(IDispatch* extender) override;

    // The host's own access, not recorded.
    std::wstring Property(const std::wstring& name) const;
    bool HasProperty(const std::wstring& name) const { return properties_.count(name) != 0; }
    void PutProperty(const std::wstring& name, const std::wstring& value) { properties_[name] = value; }
    const std::map<keystringW, std::wstring>& Properties() const { return properties_; }
    std::vector<co<IPaylantraSessionExtender2>>& Extenders() { return extenders_; }
    const std::wstring& Name() const { return name_; }

private:
    std::wstring name_;
    std::map<keystringW, std::wstring> properties_;
    std::vector<co<IPaylantraSessionExtender2>> extenders_;
};

class Application : public HostObject<IPaylantraApplication> {
public:
    using HostObject::HostObject;
    STDMETHODIMP Reserved7() override { return S_OK; }
    STDMETHODIMP Reserved8() override { return S_OK; }
    STDMETHODIMP Reserved9() override { return S_OK; }
    STDMETHODIMP Reserved10() override { return S_OK; }
    STDMETHODIMP Reserved11() override { return S_OK; }
    STDMETHODIMP Reserved12() override { return S_OK; }
    STDMETHODIMP Reserved13() override { return S_OK; }
    STDMETHODIMP Navigate(BSTR address) override;
    STDMETHODIMP EvalText(BSTR text, BSTR* result) override;
    STDMETHODIMP RunScript(BSTR text, BSTR language) override;
    STDMETHODIMP Reserved17() override { return S_OK; }
    STDMETHODIMP Reserved18() override { return S_OK; }
    STDMETHODIMP WithdrawFailure(BSTR name) override;
};

class TerminalExtenders : public HostObject<IPaylantraTerminalExtenders> {
public:
    using HostObject::HostObject;
    STDMETHODIMP GetText(BSTR* text) override;
    STDMETHODIMP Reserved8() override { return S_OK; }
    STDMETHODIMP Reserved9() override { return S_OK; }
    STDMETHODIMP Reserved10() override { return S_OK; }
    STDMETHODIMP SetFailure(BSTR name, long set) override;
    STDMETHODIMP Add(IDispatch* extender) override;
    std::vector<co<IPaylantraTerminalExtender>>& Items() { return items_; }

private:
    std::vector<co<IPaylantraTerminalExtender>> items_;
};

class Bill : public HostObject<IPaylantraBill> {
public:
    Bill(Terminal* host, long denomination, std::wstring currency)
        : HostObject(host), denomination_(denomination), currency_(std::move(currency)) {}
    STDMETHODIMP GetDenomination(VARIANT* denomination) override;
    STDMETHODIMP GetCurrency(VARIANT* currency) override;

private:
    long denomination_;
    std::wstring currency_;
};

// A running bill-acceptor session with its connection point for IPaylantraCashSessionEvents.
class CashSession : public HostObject<IPaylantraCashSession> {
public:
    explicit CashSession(Terminal* host);
    ~CashSession() override;
    STDMETHODIMP GetBillCount(long* count) override;

    // The host's side: sinks advised, and the events delivered to each. A failed event answer is
    // recorded with the sink's error text.
    size_t SinkCount() const;
    void Accept(long denomination, const std::wstring& currency);
    void Fire(const wchar_t* event, const std::function<HRESULT(IPaylantraCashSessionEvents*)>& call);
    void DropSinks();  // the session is over: every sink is released
    bool startFailed = false;  // the plugin answered the session's "Tallymark.OnCashSession" with a failure

private:
    class Point;
    class Container;
    std::unique_ptr<Point> point_;
    std::unique_ptr<Container> container_;
    long bills_ = 0;
};

class Cash : public HostObject<IPaylantraCash> {
public:
    using HostObject::HostObject;
    STDMETHODIMP Finish() override;
    STDMETHODIMP Reserved8() override { return S_OK; }
    STDMETHODIMP Reserved9() override { return S_OK; }
    STDMETHODIMP Reserved10() override { return S_OK; }
    STDMETHODIMP Reserved11() override { return S_OK; }
    STDMETHODIMP Reserved12() override { return S_OK; }
    STDMETHODIMP Reserved13() override { return S_OK; }
    STDMETHODIMP GetActiveSession(VARIANT* session) override;
    STDMETHODIMP Reserved15() override { return S_OK; }
    STDMETHODIMP Reserved16() override { return S_OK; }
    STDMETHODIMP Reserved17() override { return S_OK; }
    STDMETHODIMP Reserved18() override { return S_OK; }
    STDMETHODIMP Reserved19() override { return S_OK; }
    STDMETHODIMP GetCurrency(VARIANT* currency) override;

    co<CashSession>& Active() { return active_; }
    std::wstring currency = L"RUB";

private:
    co<CashSession> active_;
};

class Flags : public HostObject<IPaylantraFlags> {
public:
    using HostObject::HostObject;
    STDMETHODIMP Reserved7() override { return S_OK; }
    STDMETHODIMP Reserved8() override { return S_OK; }
    STDMETHODIMP Reserved9() override { return S_OK; }
    STDMETHODIMP Reserved10() override { return S_OK; }
    STDMETHODIMP IsSet(long* set) override;
    long value = 0;
};

class Devices : public HostObject<IPaylantraDevices> {
public:
    Devices(Terminal* host, Flags* flags) : HostObject(host), flags_(co<Flags>::Share(flags)) {}
    STDMETHODIMP Reserved7() override { return S_OK; }
    STDMETHODIMP Reserved8() override { return S_OK; }
    STDMETHODIMP GetFlags(IDispatch** flags) override;

private:
    co<Flags> flags_;
};

// The control panel builds each page's window from its dialog template in the given module,
// inside a window of its own, and hands it to the page; the window's commands go to the page.
class ControlPanel : public HostObject<IPaylantraControlPanel> {
public:
    using HostObject::HostObject;
    ~ControlPanel() override { Close(); }
    STDMETHODIMP AddPage(IDispatch* page, BSTR modulePath, BSTR templateName) override;
    STDMETHODIMP SetModified(long window, long modified) override;

    struct Page {
        co<IPaylantraControlPage> page;
        HWND window = nullptr;
    };
    std::vector<Page>& Pages() { return pages_; }
    HWND Frame() const { return frame_; }
    // Destroys the page windows and releases the pages.
    void Close();

private:
    std::vector<Page> pages_;
    HWND frame_ = nullptr;
};

class TerminalObject : public HostObject<IPaylantraTerminal> {
public:
    using HostObject::HostObject;
    STDMETHODIMP GetApplication(IDispatch** application) override;
    STDMETHODIMP GetEnvironment(IDispatch** session) override;
    STDMETHODIMP Reserved9(IDispatch** result) override;
    STDMETHODIMP GetTerminalExtenders(IDispatch** extenders) override;
    STDMETHODIMP Reserved11(IDispatch** result) override;
    STDMETHODIMP GetCash(IDispatch** cash) override;
    STDMETHODIMP GetDevices(IDispatch** devices) override;
};

// The terminal: owns one of each host object. The plugin only ever sees the COM objects.
class Terminal {
public:
    Terminal();
    ~Terminal();  // detaches every object, so late calls from the plugin fail cleanly
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    Transcript transcript;
    std::wstring terminalText = L"Терминал TallySim";
    std::wstring outboxFolder;  // where "Email.SendMail" writes messages; empty: ".\outbox"

    // Failure switches: the named host method ("Object.Method") answers `hr` until cleared.
    void FailMethod(const std::wstring& method, HRESULT hr) { failures_[method] = hr; }
    void ClearFailure(const std::wstring& method) { failures_.erase(method); }
    HRESULT FailureOf(const std::wstring& method) const;
    // The `occurrence`-th call of the method (counted in `calls`) answers `hr`, once; with `persist`,
    // every call from it on.
    void FailCall(const std::wstring& method, int occurrence, HRESULT hr, bool persist = false) {
        failCall_ = {method, occurrence, hr, persist};
    }
    bool FailCallFired() const { return failCall_.fired; }

    // A named terminal event, raised by the host or by the plugin: delivered to every terminal
    // extender (OnEvent) and every session extender of the environment session (slot 11).
    // Every extender hears the event; the first session extender's failure is the answer, with its
    // error information set.
    HRESULT DeliverEvent(const std::wstring& name);
    // Terminal notifications to every terminal extender.
    void NotifyStart();
    void NotifyExit();
    void NotifyFailure(const std::wstring& name, bool set);
    void NotifyStackerRemoved();
    void NotifyStackerInstalled();
    void NotifyZReport(bool done);
    // Starts a bill-acceptor session (the cash object's active session) and raises
    // "Tallymark.OnCashSession". EndCashSession raises "Tallymark.OnCashClose" (unless told not
    // to), then drops the sinks; AbortCashSession sends OnCancel, drops the sinks, then raises
    // "Tallymark.OnCashClose".
    CashSession& BeginCashSession();
    void EndCashSession(bool raiseClose = true);
    void AbortCashSession();
    // Lets go of every extender and page the plugin handed over.
    void ReleaseExtenders();

    IPaylantraTerminal* Object() const { return terminal_.Get(); }
    Session& Environment() const { return *environment_.Get(); }
    Application& App() const { return *application_.Get(); }
    TerminalExtenders& Extenders() const { return *extenders_.Get(); }
    Cash& CashObject() const { return *cash_.Get(); }
    Flags& FlagsObject() const { return *flags_.Get(); }
    Devices& DevicesObject() const { return *devices_.Get(); }
    ControlPanel& Panel() const { return *panel_.Get(); }

    std::vector<std::wstring> navigations, scripts, withdrawnFailures, mails;
    std::vector<std::wstring> raisedEvents;  // the names of the events the plugin raised, in order
    std::map<keystringW, bool> failures;  // the named terminal failures the plugin switched
    std::map<std::wstring, int> calls;    // how often the plugin called each method ("Cash.Finish"), failed ones too
    // What the host keeps for the expectations grows with a run: the heap it holds, and dropping it
    // (the transcript, navigations, scripts, withdrawn failures, mails, raised events) in a long run.
    size_t KeptBytes() const;
    void Forget();

    // Records a failed call into the plugin, with the error information it left.
    void RecordPluginFailure(const std::wstring& call, HRESULT hr);
    int pluginFailures = 0;  // how many RecordPluginFailure recorded
    // Notes the plugin refused in the open: an OnAccept answered with a failure, or a note of a
    // session without a sink whose "Tallymark.OnCashSession" the plugin answered with a failure.
    int refusedNotes = 0;

private:
    template <class Call> void ForEachExtender(const wchar_t* what, Call call);
    // The lists beside the transcript that KeptBytes counts and Forget drops.
    template <class Self> static auto KeptLists(Self& self) {
        return std::array{&self.navigations, &self.scripts, &self.withdrawnFailures, &self.mails, &self.raisedEvents};
    }
    void DropCashSession();
    std::map<std::wstring, HRESULT> failures_;
    struct {
        std::wstring method;
        int occurrence = 0;
        HRESULT hr = S_OK;
        bool persist = false;
        mutable bool fired = false;
    } failCall_;
    co<TerminalObject> terminal_;
    co<Session> environment_;
    co<Application> application_;
    co<TerminalExtenders> extenders_;
    co<Cash> cash_;
    co<Flags> flags_;
    co<Devices> devices_;
    co<ControlPanel> panel_;
    int eventDepth_ = 0;
};

std::wstring HResultText(HRESULT hr);
// Whether `name` ("Object.Method") is a host method that can be made to fail; `known` lists them all.
bool IsHostMethod(const std::wstring& name, std::wstring* known = nullptr);
// A transcript line with the collection step it stands for, in a supervisor's words, when it is one.
std::wstring WithPlainWords(const std::wstring& line);

}  // namespace Host
