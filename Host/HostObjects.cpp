#include "Host/HostObjects.h"
#include "Framework/Paths.h"
#include <cstdio>
#include <fstream>
#include <olectl.h>

namespace Host {

namespace {


VARIANT DispatchVariant(IDispatch* object) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_DISPATCH;
    v.pdispVal = object;
    object->AddRef();
    return v;
}

template <class T>
HRESULT Hand(T* object, IDispatch** out) {
    if (!out) return E_POINTER;
    object->AddRef();
    *out = static_cast<typename T::Interface*>(object);
    return S_OK;
}



}  // namespace

// Every name a host method passes to Enter.
const wchar_t* const kHostMethods[] = {
    L"Application.EvalText", L"Application.Navigate", L"Application.RunScript", L"Application.WithdrawFailure",
    L"Bill.GetCurrency", L"Bill.GetDenomination", L"Cash.Finish", L"Cash.GetActiveSession", L"Cash.GetCurrency",
    L"CashSession.Advise", L"ControlPanel.AddPage", L"ControlPanel.SetModified", L"Devices.GetFlags", L"Flags.IsSet",
    L"Session.AddExtender", L"Session.Event", L"Session.Finish", L"Session.GetProperty", L"Session.SetProperty",
    L"Terminal.GetApplication", L"Terminal.GetCash", L"Terminal.GetDevices", L"Terminal.GetEnvironment",
    L"Terminal.GetTerminalExtenders", L"TerminalExtenders.Add", L"TerminalExtenders.GetText",
    L"TerminalExtenders.SetFailure",
};

bool IsHostMethod(const std::wstring& name, std::wstring* known) {
    bool found = false;
    for (const wchar_t* method : kHostMethods) {
        found = found || name == method;
        if (known) *known += (known->empty() ? L"" : L", ") + std::wstring(method);
    }
    return found;
}

std::wstring HResultText(HRESULT hr) { return FormatBufferW(32, L"0x%08lX", static_cast<unsigned long>(hr)); }

void Transcript::Add(const std::wstring& who, const std::wstring& what) {
    records_.push_back({who, what});
    if (echo) echo(records_.back());
}

size_t HeldTextBytes(const std::wstring& text) {
    return text.capacity() > std::wstring().capacity() ? (text.capacity() + 1) * sizeof(wchar_t) : 0;
}

size_t Transcript::HeldBytes() const {
    size_t bytes = records_.capacity() * sizeof(Record);
    for (const Record& record : records_) bytes += HeldTextBytes(record.who) + HeldTextBytes(record.what);
    return bytes;
}

template <class I>
HRESULT HostObject<I>::Enter(const wchar_t* method) const {
    if (!host_) return RPC_E_DISCONNECTED;
    ++host_->calls[method];
    return host_->FailureOf(method);
}

// ---- Session -------------------------------------------------------------------------------------

std::wstring Session::Property(const std::wstring& name) const {
    auto found = properties_.find(name);
    return found == properties_.end() ? std::wstring() : found->second;
}

STDMETHODIMP Session::Finish() {
    if (HRESULT hr = Enter(L"Session.Finish"); FAILED(hr)) return hr;
    host_->transcript.Add(L"plugin", L"finish session " + name_);
    return S_OK;
}

STDMETHODIMP Session::Event(BSTR name) {
    if (HRESULT hr = Enter(L"Session.Event"); FAILED(hr)) return hr;
    std::wstring event = BstrText(name);
    host_->raisedEvents.push_back(event);
    host_->transcript.Add(L"plugin", L"event " + event);
    if (EqualNoCase(event, L"Email.SendMail")) {
        std::wstring folder = host_->outboxFolder.empty() ? L"outbox" : host_->outboxFolder;
        CreatePath(folder);
        std::wstring file = folder + FormatBufferW(64, L"\\mail-%04u.txt", unsigned(host_->mails.size() + 1));
        std::string body = Narrow(L"From: " + Property(L"Email.From") + L"\r\nTo: " + Property(L"Email.To") +
                                      L"\r\nSubject: " + Property(L"Email.Subject") + L"\r\n\r\n" +
                                      Property(L"Email.Text"),
                                  CP_UTF8);
        std::ofstream out(file.c_str(), std::ios::binary);
        out << body;
        host_->mails.push_back(file);
        host_->transcript.Add(L"host", L"mail to " + Property(L"Email.To") + L" \"" + Property(L"Email.Subject") +
                                           L"\" written to " + file);
    }
    return host_->DeliverEvent(event);
}

STDMETHODIMP Session::SetProperty(BSTR name, BSTR value) {
    if (HRESULT hr = Enter(L"Session.SetProperty"); FAILED(hr)) return hr;
    properties_[BstrText(name)] = BstrText(value);
    host_->transcript.Add(L"plugin", L"prop " + BstrText(name) + L" = " + BstrText(value));
    return S_OK;
}

STDMETHODIMP Session::GetProperty(BSTR name, BSTR* value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    if (HRESULT hr = Enter(L"Session.GetProperty"); FAILED(hr)) return hr;
    *value = SysAllocString(Property(BstrText(name)).c_str());
    return *value ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP Session::AddExtender(IDispatch* extender) {
    if (HRESULT hr = Enter(L"Session.AddExtender"); FAILED(hr)) return hr;
    if (!extender) return E_POINTER;
    IPaylantraSessionExtender2* typed = nullptr;
    if (FAILED(extender->QueryInterface(IID_IPaylantraSessionExtender2, reinterpret_cast<void**>(&typed)))) {
        host_->transcript.Add(L"host", L"rejected a session extender without IPaylantraSessionExtender2");
        return E_NOINTERFACE;
    }
    extenders_.push_back(co<IPaylantraSessionExtender2>::Attach(typed));
    host_->transcript.Add(L"plugin", L"session extender added to " + name_);
    return S_OK;
}

// ---- Application ---------------------------------------------------------------------------------

STDMETHODIMP Application::Navigate(BSTR address) {
    if (HRESULT hr = Enter(L"Application.Navigate"); FAILED(hr)) return hr;
    host_->navigations.push_back(BstrText(address));
    host_->transcript.Add(L"plugin", WithPlainWords(L"navigate " + BstrText(address)));
    return S_OK;
}

STDMETHODIMP Application::EvalText(BSTR text, BSTR* result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    if (HRESULT hr = Enter(L"Application.EvalText"); FAILED(hr)) return hr;
    // The simulated host evaluates a text to itself.
    host_->transcript.Add(L"plugin", L"eval " + BstrText(text));
    *result = SysAllocString(BstrText(text).c_str());
    return S_OK;
}

STDMETHODIMP Application::RunScript(BSTR text, BSTR language) {
    if (HRESULT hr = Enter(L"Application.RunScript"); FAILED(hr)) return hr;
    host_->scripts.push_back(BstrText(text));
    host_->transcript.Add(L"plugin", L"script (" + BstrText(language) + L") " + BstrText(text));
    return S_OK;
}

STDMETHODIMP Application::WithdrawFailure(BSTR name) {
    if (HRESULT hr = Enter(L"Application.WithdrawFailure"); FAILED(hr)) return hr;
    host_->withdrawnFailures.push_back(BstrText(name));
    host_->failures.erase(BstrText(name));
    host_->transcript.Add(L"plugin", L"withdraw failure " + BstrText(name));
    return S_OK;
}

// ---- Terminal-extender collection ----------------------------------------------------------------

STDMETHODIMP TerminalExtenders::GetText(BSTR* text) {
    if (!text) return E_POINTER;
    *text = nullptr;
    if (HRESULT hr = Enter(L"TerminalExtenders.GetText"); FAILED(hr)) return hr;
    *text = SysAllocString(host_->terminalText.c_str());
    return S_OK;
}

STDMETHODIMP TerminalExtenders::SetFailure(BSTR name, long set) {
    if (HRESULT hr = Enter(L"TerminalExtenders.SetFailure"); FAILED(hr)) return hr;
    if (set)
        host_->failures[BstrText(name)] = true;
    else
        host_->failures.erase(BstrText(name));
    host_->transcript.Add(L"plugin", (set ? L"set failure " : L"clear failure ") + BstrText(name));
    return S_OK;
}

STDMETHODIMP TerminalExtenders::Add(IDispatch* extender) {
    if (HRESULT hr = Enter(L"TerminalExtenders.Add"); FAILED(hr)) return hr;
    if (!extender) return E_POINTER;
    IPaylantraTerminalExtender* typed = nullptr;
    if (FAILED(extender->QueryInterface(IID_IPaylantraTerminalExtender, reinterpret_cast<void**>(&typed)))) {
        host_->transcript.Add(L"host", L"rejected a terminal extender without IPaylantraTerminalExtender");
        return E_NOINTERFACE;
    }
    items_.push_back(co<IPaylantraTerminalExtender>::Attach(typed));
    host_->transcript.Add(L"plugin", L"terminal extender added");
    return S_OK;
}

// ---- Cash ----------------------------------------------------------------------------------------

STDMETHODIMP Bill::GetDenomination(VARIANT* denomination) {
    if (!denomination) return E_POINTER;
    VariantInit(denomination);
    if (HRESULT hr = Enter(L"Bill.GetDenomination"); FAILED(hr)) return hr;
    denomination->vt = VT_I4;
    denomination->lVal = denomination_;
    return S_OK;
}

STDMETHODIMP Bill::GetCurrency(VARIANT* currency) {
    if (!currency) return E_POINTER;
    VariantInit(currency);
    if (HRESULT hr = Enter(L"Bill.GetCurrency"); FAILED(hr)) return hr;
    currency->vt = VT_BSTR;
    currency->bstrVal = SysAllocString(currency_.c_str());
    return S_OK;
}

class CashSession::Point : public IConnectionPoint {
public:
    explicit Point(CashSession* owner) : owner_(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IConnectionPoint) || IsEqualIID(riid, IID_IUnknown)) {
            AddRef();
            *ppv = static_cast<IConnectionPoint*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }
    STDMETHODIMP GetConnectionInterface(IID* iid) override {
        if (!iid) return E_POINTER;
        *iid = IID_IPaylantraCashSessionEvents;
        return S_OK;
    }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
        if (!sink || !cookie) return E_POINTER;
        if (HRESULT hr = owner_->Enter(L"CashSession.Advise"); FAILED(hr)) return hr;
        IPaylantraCashSessionEvents* events = nullptr;
        if (FAILED(sink->QueryInterface(IID_IPaylantraCashSessionEvents, reinterpret_cast<void**>(&events))))
            return CONNECT_E_CANNOTCONNECT;
        sinks.emplace_back(++lastCookie, co<IPaylantraCashSessionEvents>::Attach(events));
        *cookie = lastCookie;
        owner_->host_->transcript.Add(L"plugin", L"cash-session sink advised");
        return S_OK;
    }
    STDMETHODIMP Unadvise(DWORD cookie) override {
        for (auto it = sinks.begin(); it != sinks.end(); ++it)
            if (it->first == cookie) {
                sinks.erase(it);
                return S_OK;
            }
        return CONNECT_E_NOCONNECTION;
    }
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override {
        if (connections) *connections = nullptr;
        return E_NOTIMPL;
    }

    std::vector<std::pair<DWORD, co<IPaylantraCashSessionEvents>>> sinks;
    DWORD lastCookie = 0;

private:
    CashSession* owner_;
};

class CashSession::Container : public IConnectionPointContainer {
public:
    explicit Container(CashSession* owner) : owner_(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return owner_->QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override {
        if (points) *points = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
        if (!point) return E_POINTER;
        *point = nullptr;
        if (!IsEqualIID(riid, IID_IPaylantraCashSessionEvents)) return CONNECT_E_NOCONNECTION;
        owner_->point_->AddRef();
        *point = owner_->point_.get();
        return S_OK;
    }

private:
    CashSession* owner_;
};

STDMETHODIMP CashSession::Point::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    owner_->AddRef();
    *container = owner_->container_.get();
    return S_OK;
}

CashSession::CashSession(Terminal* host)
    : HostObject(host), point_(std::make_unique<Point>(this)), container_(std::make_unique<Container>(this)) {
    Serve(IID_IConnectionPointContainer, container_.get());
}

CashSession::~CashSession() = default;

STDMETHODIMP CashSession::GetBillCount(long* count) {
    if (!count) return E_POINTER;
    *count = bills_;
    return S_OK;
}

size_t CashSession::SinkCount() const { return point_->sinks.size(); }

void CashSession::Fire(const wchar_t* event, const std::function<HRESULT(IPaylantraCashSessionEvents*)>& call) {
    auto sinks = point_->sinks;  // a sink may unadvise itself
    for (auto& [cookie, sink] : sinks) {
        HRESULT hr = call(sink.Get());
        if (FAILED(hr) && host_) host_->RecordPluginFailure(std::wstring(L"cash session ") + event, hr);
    }
}

void CashSession::Accept(long denomination, const std::wstring& currency) {
    ++bills_;
    if (host_) host_->transcript.Add(L"host", L"bill accepted: " + std::to_wstring(denomination) + L" " + currency);
    co<Bill> bill = co<Bill>::Attach(new Bill(host_, denomination, currency));
    VARIANT sender = DispatchVariant(this);
    VARIANT billArg = DispatchVariant(bill.Get());
    int failed = host_ ? host_->pluginFailures : 0;
    bool unheard = point_->sinks.empty();
    Fire(L"OnAccept", [&](IPaylantraCashSessionEvents* sink) { return sink->OnAccept(sender, billArg); });
    if (host_ && (host_->pluginFailures > failed || (unheard && startFailed))) ++host_->refusedNotes;
    VariantClear(&billArg);
    VariantClear(&sender);
}

void CashSession::DropSinks() {
    auto sinks = std::move(point_->sinks);
    point_->sinks.clear();
    sinks.clear();  // the sinks' last host references go here
}

STDMETHODIMP Cash::Finish() {
    if (HRESULT hr = Enter(L"Cash.Finish"); FAILED(hr)) return hr;
    host_->transcript.Add(L"plugin", WithPlainWords(L"finish cash"));
    return S_OK;
}

STDMETHODIMP Cash::GetActiveSession(VARIANT* session) {
    if (!session) return E_POINTER;
    VariantInit(session);
    if (HRESULT hr = Enter(L"Cash.GetActiveSession"); FAILED(hr)) return hr;
    if (active_) *session = DispatchVariant(active_.Get());
    return S_OK;
}

STDMETHODIMP Cash::GetCurrency(VARIANT* value) {
    if (!value) return E_POINTER;
    VariantInit(value);
    if (HRESULT hr = Enter(L"Cash.GetCurrency"); FAILED(hr)) return hr;
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocString(currency.c_str());
    return S_OK;
}

// ---- Devices, control panel, terminal ------------------------------------------------------------

STDMETHODIMP Flags::IsSet(long* set) {
    if (!set) return E_POINTER;
    *set = 0;
    if (HRESULT hr = Enter(L"Flags.IsSet"); FAILED(hr)) return hr;
    *set = value;
    return S_OK;
}

STDMETHODIMP Devices::GetFlags(IDispatch** flags) {
    if (flags) *flags = nullptr;
    if (HRESULT hr = Enter(L"Devices.GetFlags"); FAILED(hr)) return hr;
    return Hand(flags_.Get(), flags);
}

namespace {

INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* page = reinterpret_cast<IPaylantraControlPage*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        return TRUE;
    case WM_COMMAND:
        if (page) {
            long handled = 0;
            // The interface carries both parameters as 32-bit longs: a command id and a control's
            // window handle, which is 32-bit significant on both architectures.
            if (SUCCEEDED(page->Command(long(wParam), HandleToLong(reinterpret_cast<HWND>(lParam)), &handled)) && handled)
                return TRUE;
        }
        return FALSE;
    case WM_HELP:
        if (page) {
            long handled = 0;
            // The help request is a HELPINFO pointer in a 32-bit long, as the host passes it; on the
            // 64-bit twin only a block below 4 GB survives the trip.
            page->Help(PtrToLong(reinterpret_cast<void*>(lParam)), &handled);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

}  // namespace

STDMETHODIMP ControlPanel::AddPage(IDispatch* page, BSTR modulePath, BSTR templateName) {
    if (HRESULT hr = Enter(L"ControlPanel.AddPage"); FAILED(hr)) return hr;
    if (!page) return E_POINTER;
    IPaylantraControlPage* typed = nullptr;
    if (FAILED(page->QueryInterface(IID_IPaylantraControlPage, reinterpret_cast<void**>(&typed)))) return E_NOINTERFACE;
    co<IPaylantraControlPage> owned = co<IPaylantraControlPage>::Attach(typed);
    host_->transcript.Add(L"plugin", L"control page added: template " + BstrText(templateName) + L" in " + BstrText(modulePath));
    HMODULE module = GetModuleHandleW(BstrText(modulePath).c_str());
    if (!module) {
        host_->transcript.Add(L"host", L"control page module not loaded: " + BstrText(modulePath));
        return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    }
    if (!frame_)
        // A plain pop-up: shown without a window manager's frame, and gone at once when destroyed
        // (a framed window waits for a window manager that the test display lacks).
        frame_ = CreateWindowExW(0, L"STATIC", L"TallySim control panel", WS_POPUP | WS_CLIPCHILDREN, 0, 0, 420, 400,
                                 nullptr, nullptr, nullptr, nullptr);
    if (!frame_) {
        // Without a display no window can be made; say so rather than fail on the page's child style.
        DWORD error = GetLastError();
        host_->transcript.Add(L"host", L"control panel window not made (error " + std::to_wstring(error) +
                                           L"; is there a display?)");
        return HRESULT_FROM_WIN32(error ? error : ERROR_INVALID_WINDOW_HANDLE);
    }
    HWND window = CreateDialogParamW(module, BstrText(templateName).c_str(), frame_, PageProc, LPARAM(typed));
    if (!window) {
        DWORD error = GetLastError();
        host_->transcript.Add(L"host", L"control page template " + BstrText(templateName) + L" not made (error " +
                                           std::to_wstring(error) + L")");
        return HRESULT_FROM_WIN32(error ? error : ERROR_RESOURCE_NAME_NOT_FOUND);
    }
    pages_.push_back({owned, window});
    long accepted = 0;
    HRESULT hr = typed->SetPageWindow(HandleToLong(window), &accepted);
    if (FAILED(hr))
        host_->RecordPluginFailure(L"SetPageWindow", hr);
    else
        host_->transcript.Add(L"host", accepted ? L"page window accepted" : L"page window refused");
    // Sized to the panel as a property sheet sizes its pages, and shown as the host shows its panel,
    // so the page's keyboard handling sees a visible window.
    RECT client{};
    GetClientRect(frame_, &client);
    SetWindowPos(window, nullptr, 0, 0, client.right, client.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window, SW_SHOW);
    ShowWindow(frame_, SW_SHOWNOACTIVATE);
    return S_OK;
}

void ControlPanel::Close() {
    auto pages = std::move(pages_);
    pages_.clear();
    for (Page& page : pages)
        if (page.window && IsWindow(page.window)) DestroyWindow(page.window);
    pages.clear();  // the pages' last host references
    if (frame_) DestroyWindow(frame_);
    frame_ = nullptr;
}

STDMETHODIMP ControlPanel::SetModified(long, long modified) {
    if (HRESULT hr = Enter(L"ControlPanel.SetModified"); FAILED(hr)) return hr;
    host_->transcript.Add(L"plugin", modified ? L"control page modified" : L"control page unmodified");
    return S_OK;
}

STDMETHODIMP TerminalObject::GetApplication(IDispatch** application) {
    if (application) *application = nullptr;
    if (HRESULT hr = Enter(L"Terminal.GetApplication"); FAILED(hr)) return hr;
    return Hand(&host_->App(), application);
}

STDMETHODIMP TerminalObject::GetEnvironment(IDispatch** session) {
    if (session) *session = nullptr;
    if (HRESULT hr = Enter(L"Terminal.GetEnvironment"); FAILED(hr)) return hr;
    return Hand(&host_->Environment(), session);
}

STDMETHODIMP TerminalObject::Reserved9(IDispatch** result) {
    if (result) *result = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TerminalObject::GetTerminalExtenders(IDispatch** extenders) {
    if (extenders) *extenders = nullptr;
    if (HRESULT hr = Enter(L"Terminal.GetTerminalExtenders"); FAILED(hr)) return hr;
    return Hand(&host_->Extenders(), extenders);
}

STDMETHODIMP TerminalObject::Reserved11(IDispatch** result) {
    if (result) *result = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TerminalObject::GetCash(IDispatch** cash) {
    if (cash) *cash = nullptr;
    if (HRESULT hr = Enter(L"Terminal.GetCash"); FAILED(hr)) return hr;
    return Hand(&host_->CashObject(), cash);
}

STDMETHODIMP TerminalObject::GetDevices(IDispatch** devices) {
    if (devices) *devices = nullptr;
    if (HRESULT hr = Enter(L"Terminal.GetDevices"); FAILED(hr)) return hr;
    return Hand(&host_->DevicesObject(), devices);
}

}  // namespace Host
