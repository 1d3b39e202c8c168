// Typed access to the host terminal: its terminal-wide properties and events, scripts, navigation
// and helper objects.
#pragma once
#include "Framework/Text.h"
#include "xdk/Source/Paylantra/PLSession.h"
#include <string>

namespace PLXDK::Paylantra {

class PLClient {
public:
    PLClient() = default;
    explicit PLClient(IUnknown* terminal);  // queries the host terminal interface
    virtual ~PLClient() = default;

    // Properties of the terminal's environment session.
    virtual std::wstring GetProperty(const std::string& name);
    virtual long long GetPropertyInt(const std::string& name);
    virtual double GetPropertyReal(const std::string& name);
    virtual void SetProperty(const std::string& name, const std::wstring& value);
    virtual void SetPropertyInt(const std::string& name, long long value);
    virtual void SetPropertyBool(const std::string& name, bool value);
    virtual void RaiseEvent(const std::string& name);
    // Runs JavaScript text in the terminal's application.
    virtual void RunScript(const std::wstring& text);
    // Evaluates a text to a screen address, navigates there and returns the address.
    virtual std::string EvalText(const std::wstring& text);
    virtual bool IsFlagSet();

    void SetProperty(const std::string& name, const std::string& value);  // ANSI text
    void SetProperty(const std::string& name, const char* value) { SetProperty(name, std::string(value)); }
    void RunScript(const std::string& text) { RunScript(Widen(text)); }
    std::string EvalText(const std::string& text) { return EvalText(Widen(text)); }

    // The terminal's helper objects; every failed getter raises CoError.
    co<IPaylantraApplication> GetApplication() const;
    co<IPaylantraSession> GetEnvironment() const;
    PLSession GetEnvironmentSession() const { return PLSession(GetEnvironment().Get()); }
    co<IPaylantraTerminalExtenders> GetTerminalExtenders() const;
    co<IPaylantraCash> GetCash() const;
    std::wstring GetTerminalText() const;  // the text of the terminal-extender collection
    void Navigate(const std::wstring& address) const;
    IPaylantraTerminal* Terminal() const { return terminal_.Get(); }

    // Clears the host's current bill count (value Current of Software\Velmor\Paylantra\BillCounter).
    static void ResetBillCounter();

private:
    co<IPaylantraTerminal> terminal_;
};

}  // namespace PLXDK::Paylantra
