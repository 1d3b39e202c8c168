// The plugin's extension of the host's sessions: the "Session" counter's period, a property map
// that the host fills and templates read, and the one place where template texts are produced.
#pragma once
#include "AppFrame/Include/PaylantraObject.h"
#include "Framework/RealTime.h"
#include "MacroProc/MacroProc.h"
#include "Plugin/BillCounters.h"
#include "Plugin/TextParams.h"
#include "xdk/Source/Paylantra/PLClient.h"
#include <map>
#include <string>
#include <vector>

namespace Plugin {

class TerminalExtender;

class SessionExtender : public PaylantraObject2<IPaylantraSessionExtender2> {
public:
    // The terminal extender is not counted: it outlives the session extender.
    SessionExtender(IPaylantraTerminal* terminal, TerminalExtender* extender);

    STDMETHODIMP OnClearProperties(IDispatch* session) override;
    STDMETHODIMP OnSessionCreate(IDispatch* session) override;
    STDMETHODIMP OnSessionActivate(IDispatch* session) override;
    STDMETHODIMP OnSessionStart(IDispatch* session) override;
    STDMETHODIMP OnSessionEvent(IDispatch* session, BSTR name) override;
    STDMETHODIMP OnSessionDeactivate(IDispatch* session) override;
    STDMETHODIMP OnSessionEnd(IDispatch* session) override;
    STDMETHODIMP OnSetProperty(IDispatch* session, BSTR name, BSTR value) override;

    // The template's text with the plugin's predefined names and the caller's parameters. The
    // collection time, when valid, stands in for now. `escape` off drops undefined escapes.
    std::wstring ProduceText(const std::wstring& templateName, RealTime collectionTime, const TextParams& params,
                             bool escape);

    // What the session-property names of templates reach.
    const std::map<keystringW, std::wstring>& Properties() const { return properties_; }
    // The host session that the running call concerns; null between calls.
    IPaylantraSession* CurrentSession() const { return current_.Get(); }

private:
    class CurrentScope;
    void CreateEmail(PLXDK::Paylantra::PLSession& session);
    void CreatePrintText(PLXDK::Paylantra::PLSession& session);
    TerminalExtender& Extender() const;

    PLXDK::Paylantra::PLClient terminal_;
    TerminalExtender* extender_;
    co<IPaylantraSession> current_;
    std::map<keystringW, std::wstring> properties_;
    ResetInfo sessionReset_;
};

// "var:", "prop:" and "перем:" names: the session extender's property map, and setting the
// current host session's properties.
class SessionPropMacroNameHandler : public MacroProc::NameHandler {
public:
    explicit SessionPropMacroNameHandler(SessionExtender& extender) : extender_(extender) {}
    std::vector<keystringW> ListNames(MacroProc::Processor& processor, const keystringW& prefix,
                                      const stringW& pattern) override;
    void SetValue(MacroProc::Processor& processor, const keystringW& prefix, const stringW& name,
                  const stringW& value) override;
    bool IsDefined(MacroProc::Processor& processor, const keystringW& prefix, const stringW& name) override;
    stringW ReadName(MacroProc::Processor& processor, const keystringW& prefix, MacroProc::Pos& pos) override;
    stringW GetValue(MacroProc::Processor& processor, const keystringW& prefix, const stringW& name, bool quiet) override;

private:
    SessionExtender& extender_;
};

}  // namespace Plugin
