// The plugin's extension of the host terminal: the COM object the host calls on terminal start and
// exit, named terminal events, device failures, stacker and Z-report notifications. It is an
// adapter: each call goes to the part of the terminal side that owns it.
#pragma once
#include "AppFrame/Include/PaylantraObject.h"
#include <memory>
#include <string>

namespace Plugin {

class TerminalSide;

// Asked with this IID, a terminal extender of this plugin answers itself.
extern const IID IID_ITallymarkTerminalExtender;

class TerminalExtender : public PaylantraObject2<IPaylantraTerminalExtender2> {
public:
    explicit TerminalExtender(std::shared_ptr<TerminalSide> side);
    ~TerminalExtender() override;

    STDMETHODIMP OnStart(IDispatch* terminal) override;
    STDMETHODIMP OnExit(IDispatch* terminal) override;
    STDMETHODIMP OnEvent(IDispatch* terminal, BSTR name) override;
    STDMETHODIMP OnTerminalFailure(IDispatch* terminal, BSTR name, long set) override;
    STDMETHODIMP OnStackerRemoved(IDispatch* session) override;
    STDMETHODIMP OnStackerInstalled(IDispatch* terminal) override;
    STDMETHODIMP OnZReportReady(IDispatch* session) override;
    STDMETHODIMP OnZReportDone(IDispatch* session) override;
    STDMETHODIMP OnNotify(VARIANT, VARIANT, VARIANT, VARIANT, VARIANT, VARIANT) override;

private:
    void HandleEvent(const std::wstring& name);
    // A call into the terminal side, answered as the host expects; it ends by telling a log that
    // could not be written.
    template <class Body> HRESULT Run(Body body);

    std::shared_ptr<TerminalSide> side_;
};

}  // namespace Plugin
