// The plugin's extension of the host's sessions: the "Session" counter's period, a property map
// that the host fills and templates read, and the one place where template texts are produced.
#pragma once
#include "AppFrame/Include/PaylantraObject.h"
#include "Framework/RealTime.h"
#include "MacroProc/MacroProc.h"
#include "Plugin/Counting/BillCounters.h"
#include "Plugin/Texts/TextParams.h"
#include "xdk/Source/Paylantra/PLClient.h"
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Plugin {

// What the session extender asks of the terminal side it was attached with.
class SessionServices {
public:
    // A session started: the "Session" counter is reset, its record returned, the counters refreshed.
    virtual ResetInfo StartSessionPeriod() = 0;
    // A session ended: the report and alert of its period, then the counters refreshed.
    virtual void EndSessionPeriod(const ResetInfo& period) = 0;
    // A session was made: the stacker's state once more while the stacker is out.
    virtual void RepublishStackerState() = 0;
    // The moment the open collection was carried out; empty at all other times.
    virtual RealTime CollectionTime() const = 0;
    // A print text failed: the failure is the collection's error.
    virtual void ReportPrintTextFailure(const std::exception_ptr& failure) = 0;
    // The published counter values and reset records, the open collection's frozen ones over them.
    virtual CounterValues PublishedValues() const = 0;
    virtual ResetInfoMap PublishedResets() const = 0;

protected:
    ~SessionServices() = default;
};

class SessionExtender : public PaylantraObject2<IPaylantraSessionExtender2> {
public:
    // Serves the terminal side it was attached with while that lives; the host may release the
    // terminal extender first, and then every call fails rather than reach what is gone.
    SessionExtender(IPaylantraTerminal* terminal, std::weak_ptr<SessionServices> side);

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
    std::shared_ptr<SessionServices> Side() const;

    PLXDK::Paylantra::PLClient terminal_;
    std::weak_ptr<SessionServices> side_;
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
