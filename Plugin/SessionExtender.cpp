#include "Plugin/SessionExtender.h"
#include "Framework/Com.h"
#include "Framework/Exceptions.h"
#include "Framework/Registry.h"
#include "PLLib/PLLib.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Terminal/JobErrors.h"
#include "Plugin/Plugin.h"
#include "Plugin/Settings/Settings.h"
#include "Plugin/Version.h"
#include <cwchar>

using PLXDK::Paylantra::PLSession;

namespace Plugin {

namespace {

const char kSource[] = "Plugin/SessionExtender";

// The cash object's currency: a text, or an object that answers it as a bill does.
std::wstring CashCurrency(PLXDK::Paylantra::PLClient& terminal) {
    Variant value;
    CoCheck(terminal.GetCash()->GetCurrency(value.Out()), kSource, __LINE__);
    if (value.Type() != VT_DISPATCH) return value.ToString().Str();
    co<IPaylantraBill> holder(value.ToDispatch());
    if (!holder) CoCheck(E_NOINTERFACE, kSource, __LINE__);
    Variant currency;
    CoCheck(holder->GetCurrency(currency.Out()), kSource, __LINE__);
    return currency.ToString().Str();
}

void DefineDenominations(MacroProc::Processor& processor, const std::wstring& currency) {
    std::vector<uint32_t> denominations = BillTypeTable().DenominationsOf(currency);
    if (denominations.empty()) return;
    int width = int(std::to_wstring(denominations.back()).size());
    for (uint32_t denomination : denominations) {
        wchar_t padded[16];
        swprintf(padded, 16, L"%0*u", width, denomination);
        processor.Define(L"Denom." + currency + padded, std::to_wstring(denomination));
    }
}

}  // namespace

// Makes a host session the current one for the length of a call, restoring the one before.
class SessionExtender::CurrentScope {
public:
    CurrentScope(SessionExtender& owner, IDispatch* session) : owner_(owner), saved_(owner.current_) {
        owner_.current_ = co<IPaylantraSession>(session);
    }
    ~CurrentScope() { owner_.current_ = saved_; }
    CurrentScope(const CurrentScope&) = delete;
    CurrentScope& operator=(const CurrentScope&) = delete;

private:
    SessionExtender& owner_;
    co<IPaylantraSession> saved_;
};

SessionExtender::SessionExtender(IPaylantraTerminal* terminal, std::weak_ptr<SessionServices> side)
    : terminal_(terminal), side_(std::move(side)) {}

std::shared_ptr<SessionServices> SessionExtender::Side() const {
    std::shared_ptr<SessionServices> side = side_.lock();
    if (!side) throw InternalError("SessionExtender: the terminal extender is gone");
    return side;
}

STDMETHODIMP SessionExtender::OnClearProperties(IDispatch*) {
    return PAYLANTRA_METHOD(kSource, [&] { properties_.clear(); });
}

STDMETHODIMP SessionExtender::OnSessionCreate(IDispatch* session) {
    return PAYLANTRA_METHOD(kSource, [&] {
        PLSession(session).SetProperty("Tallymark.Installed", kVersionText);
        Side()->RepublishStackerState();
    });
}

STDMETHODIMP SessionExtender::OnSessionActivate(IDispatch*) { return S_OK; }

STDMETHODIMP SessionExtender::OnSessionStart(IDispatch* session) {
    return PAYLANTRA_METHOD(kSource, [&] {
        CurrentScope current(*this, session);
        sessionReset_ = Side()->StartSessionPeriod();
    });
}

STDMETHODIMP SessionExtender::OnSessionEvent(IDispatch* session, BSTR name) {
    return PAYLANTRA_METHOD(kSource, [&] {
        std::wstring event = BstrText(name);
        PLSession host(session);
        if (EqualNoCase(event, L"Tallymark.CreateEmail"))
            CreateEmail(host);
        else if (EqualNoCase(event, L"Tallymark.Collect.CreatePrintText"))
            CreatePrintText(host);
    });
}

STDMETHODIMP SessionExtender::OnSessionDeactivate(IDispatch*) { return S_OK; }

STDMETHODIMP SessionExtender::OnSessionEnd(IDispatch*) {
    return PAYLANTRA_METHOD(kSource, [&] {
        Side()->EndSessionPeriod(sessionReset_);
    });
}

STDMETHODIMP SessionExtender::OnSetProperty(IDispatch*, BSTR name, BSTR value) {
    return PAYLANTRA_METHOD(kSource, [&] {
        keystringW key(BstrText(name));
        properties_.erase(key);  // the new spelling of the name replaces the old one
        properties_.emplace(key, BstrText(value));
    });
}

void SessionExtender::CreateEmail(PLSession& session) {
    CurrentScope current(*this, session.Session());
    session.ClearProperty("Tallymark.Email.Text");
    std::wstring templateName = session.GetProperty("Tallymark.Email.Template");
    if (templateName.empty()) return;

    TextParams params{{L"MsgProp.Type", L"Tallymark.Email.Type"},
                      {L"MsgProp.From", L"Tallymark.Email.From"},
                      {L"MsgProp.To", L"Tallymark.Email.To"},
                      {L"MsgProp.Subject", L"Tallymark.Email.Subject"}};
    {
        wchar_t text[16];
        swprintf(text, 16, L"%06u", unsigned(NextRunningNumber(L"PrevMessageNumber")));
        params[L"MsgInfo.Number"] = text;
    }
    size_t count = TextParamCount(session, "Tallymark.Email.TextParams");
    ReadTextParams(session, "Tallymark.Email.TextParams", count, params);
    session.SetProperty("Tallymark.Email.Text", ProduceText(templateName, Side()->CollectionTime(), params, false));

    session.ClearProperty("Tallymark.Email.Template");
    ClearTextParams(session, "Tallymark.Email.TextParams", count);
}

void SessionExtender::CreatePrintText(PLSession& session) {
    session.ClearProperty("Tallymark.Print.Text");
    CurrentScope current(*this, session.Session());
    std::wstring templateName = session.GetProperty("Tallymark.Print.Template");
    if (templateName.empty()) return;
    try {
        bool noEscape = session.GetPropertyInt("Tallymark.Print.NoEscape") != 0;
        size_t count = TextParamCount(session, "Tallymark.Print.Params");
        TextParams params;
        ReadTextParams(session, "Tallymark.Print.Params", count, params);
        session.SetProperty("Tallymark.Print.Text", ProduceText(templateName, Side()->CollectionTime(), params, !noEscape));
        session.ClearProperty("Tallymark.Print.Template");
        session.ClearProperty("Tallymark.Print.NoEscape");
        ClearTextParams(session, "Tallymark.Print.Params", count);
    } catch (const VelmorException&) {
        // The requester gets no text; the failure is the collection's to report.
        Side()->ReportPrintTextFailure(std::current_exception());
        session.ClearProperty("Tallymark.Print.Text");
    }
}

std::wstring SessionExtender::ProduceText(const std::wstring& templateName, RealTime collectionTime,
                                          const TextParams& params, bool escape) {
    std::wstring text = LoadTemplate(templateName);
    TemplateErrors errors;
    MacroProc::Processor processor(templateName, errors.Sink());
    processor.dropUndefinedEscapes = !escape;

    RealTime now = collectionTime ? collectionTime : RealTime::Now();
    processor.Define(L"t", Format(now, 2, false, true, false));
    processor.Define(L"d", Format(now, 2, true, false, false));
    std::wstring terminal = terminal_.GetTerminalText();
    processor.Define(L"terminal", terminal);
    processor.Define(L"терминал", terminal);
    std::wstring date = Format(now, 1, true, false, false);
    std::wstring time = Format(now, 1, false, true, true);
    for (const wchar_t* name : {L"date", L"дата", L"data"}) processor.Define(name, date);
    for (const wchar_t* name : {L"time", L"время", L"vremya"}) processor.Define(name, time);
    processor.Define(L"CUC", CurrencyCode());
    processor.Define(L"CUS", CurrencySuffix());
    for (const auto& [name, value] : params) processor.Define(name.str(), value);

    std::shared_ptr<SessionServices> side = Side();
    for (const auto& [name, value] : side->PublishedValues()) processor.Define(name.str(), std::to_wstring(value));
    for (const auto& [counter, info] : side->PublishedResets()) {
        std::wstring base = L"Tallymark.BillCounter." + counter.str() + L".Reset.";
        processor.Define(base + L"Number", std::to_wstring(info.number));
        processor.Define(base + L"DateTime", FormatDateTime(info.time, 2));
        processor.Define(base + L"PrevDateTime", FormatDateTime(info.previous, 2));
    }
    DefineDenominations(processor, CashCurrency(terminal_));

    if (current_) {
        auto handler = std::make_shared<SessionPropMacroNameHandler>(*this);
        for (const wchar_t* prefix : {L"var:", L"prop:", L"перем:"}) processor.AddHandler(prefix, handler);
    }
    return processor.Process(text);
}

std::vector<keystringW> SessionPropMacroNameHandler::ListNames(MacroProc::Processor& processor, const keystringW&,
                                                               const stringW& pattern) {
    std::vector<keystringW> names;
    if (processor.skipping) return names;
    for (const auto& [name, value] : extender_.Properties())
        if (MacroProc::Processor::MatchWildcard(pattern, name.str())) names.push_back(name);
    return names;
}

void SessionPropMacroNameHandler::SetValue(MacroProc::Processor& processor, const keystringW&, const stringW& name,
                                           const stringW& value) {
    if (processor.skipping || !extender_.CurrentSession()) return;
    PLSession(extender_.CurrentSession()).SetProperty(Narrow(name), value);
}

bool SessionPropMacroNameHandler::IsDefined(MacroProc::Processor&, const keystringW&, const stringW& name) {
    return extender_.Properties().count(keystringW(name)) != 0;
}

stringW SessionPropMacroNameHandler::ReadName(MacroProc::Processor& processor, const keystringW&, MacroProc::Pos& pos) {
    stringW name;
    size_t depth = 0;
    while (!processor.AtEnd(pos)) {
        wchar_t c = *pos;
        if (c == L'"' || c == L'\'') {
            name += processor.ScanQuoted(pos);
        } else if (c == L'%') {
            processor.ScanEscape(pos, name);
        } else if (c == L'(') {
            if (!processor.skipping) name += c;
            ++depth;
            ++pos;
        } else if (c == L')') {
            ++pos;
            if (depth == 0) break;  // the reference's own level
            --depth;
            name += c;
        } else {
            MacroProc::Pos start = pos;
            while (!processor.AtEnd(pos) && *pos != L'(' && *pos != L')' && *pos != L'%' && *pos != L'"' && *pos != L'\'')
                ++pos;
            name.append(start, pos);
        }
    }
    return name;
}

stringW SessionPropMacroNameHandler::GetValue(MacroProc::Processor& processor, const keystringW&, const stringW& name,
                                              bool) {
    if (processor.skipping) return stringW();
    auto it = extender_.Properties().find(keystringW(name));
    return it == extender_.Properties().end() ? stringW() : it->second;
}

}  // namespace Plugin
