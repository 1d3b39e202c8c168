#include "Plugin/TerminalExtender.h"
#include "Framework/Com.h"
#include "Framework/Messages.h"
#include "Plugin/Extenders.h"
#include "Plugin/Terminal/TerminalSide.h"
#include "Plugin/Version.h"

namespace Plugin {

// {6C0F3B52-9E4A-4D0B-A1C7-3F5E2B8D4A61}
const IID IID_ITallymarkTerminalExtender = {0x6c0f3b52, 0x9e4a, 0x4d0b, {0xa1, 0xc7, 0x3f, 0x5e, 0x2b, 0x8d, 0x4a, 0x61}};

namespace {
const char kSource[] = "Plugin/TerminalExtender";
}  // namespace

TerminalExtender::TerminalExtender(std::shared_ptr<TerminalSide> side) : side_(std::move(side)) {
    // The host holds the extender through the first version of its interface.
    Serve(IID_IPaylantraTerminalExtender, static_cast<IPaylantraTerminalExtender2*>(this));
    Serve(IID_ITallymarkTerminalExtender, static_cast<IPaylantraTerminalExtender2*>(this));
}

// The side goes with the last of its holders: a sink the host still holds keeps it.
TerminalExtender::~TerminalExtender() = default;

template <class Body> HRESULT TerminalExtender::Run(Body body) {
    return PAYLANTRA_METHOD(kSource, [&] {
        body();
        side_->Log().CheckWritten();
    });
}

STDMETHODIMP TerminalExtender::OnStart(IDispatch*) {
    return Run([&] { side_->Periods().StartRun(); });
}

STDMETHODIMP TerminalExtender::OnExit(IDispatch*) {
    return Run([&] { side_->Periods().EndRun(); });
}

STDMETHODIMP TerminalExtender::OnEvent(IDispatch*, BSTR name) {
    return Run([&] { HandleEvent(BstrText(name)); });
}

void TerminalExtender::HandleEvent(const std::wstring& name) {
    if (EqualNoCase(name, L"Poll")) {
        DebugMessage(nullptr, L"Terminal event " + name, L"Velmor Paylantra Tallymark plugin v." + Widen(kVersionText));
    } else if (EqualNoCase(name, L"Tallymark.OnCashSession")) {
        side_->Cash().Start();
    } else if (EqualNoCase(name, L"Tallymark.OnCashClose")) {
        side_->Cash().Close();
    } else if (EqualNoCase(name, L"Tallymark.Collect.Init")) {
        side_->Collect().Open();
    } else if (EqualNoCase(name, L"Tallymark.Collect.Done")) {
        side_->Collect().Done();
    } else if (EqualNoCase(name, L"Tallymark.Collect.Close")) {
        side_->Collect().RequestClose(false);
    } else if (EqualNoCase(name, L"Tallymark.Collect.Cancel")) {
        side_->Collect().RequestClose(true);
    } else if (EqualNoCase(name, L"Tallymark.ZReport.Ready")) {
        side_->Periods().ZReportReady();
    } else if (EqualNoCase(name, L"Tallymark.ZReport.Done")) {
        side_->Periods().ZReportDone();
    }
}

STDMETHODIMP TerminalExtender::OnTerminalFailure(IDispatch*, BSTR name, long set) {
    return Run([&] { side_->Collect().OnTerminalFailure(BstrText(name), set != 0); });
}

STDMETHODIMP TerminalExtender::OnStackerRemoved(IDispatch* session) {
    return Run([&] { side_->Collect().OnStackerRemoved(session); });
}

STDMETHODIMP TerminalExtender::OnStackerInstalled(IDispatch*) {
    return Run([&] { side_->Collect().OnStackerInstalled(); });
}

STDMETHODIMP TerminalExtender::OnZReportReady(IDispatch* session) {
    return PAYLANTRA_METHOD(kSource, [&]() -> HRESULT {
        co<IPaylantraSession> host(session);
        return host ? host->Event(CoString(L"Tallymark.ZReport.Ready")) : E_POINTER;
    });
}

STDMETHODIMP TerminalExtender::OnZReportDone(IDispatch* session) {
    return PAYLANTRA_METHOD(kSource, [&]() -> HRESULT {
        co<IPaylantraSession> host(session);
        return host ? host->Event(CoString(L"Tallymark.ZReport.Done")) : E_POINTER;
    });
}

STDMETHODIMP TerminalExtender::OnNotify(VARIANT, VARIANT, VARIANT, VARIANT, VARIANT, VARIANT) { return S_OK; }

Extenders CreateExtenders(IPaylantraTerminal* terminal) {
    auto side = std::make_shared<TerminalSide>(terminal);
    return {co<IPaylantraTerminalExtender2>::Attach(new TerminalExtender(side)),
            co<IPaylantraSessionExtender2>::Attach(new SessionExtender(terminal, side))};
}

}  // namespace Plugin
