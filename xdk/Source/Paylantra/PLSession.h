// Typed access to the named text properties and named events of one host session.
#pragma once
#include "AppFrame/Include/co.h"
#include "Framework/Exceptions.h"
#include "Framework/RealTime.h"
#include "Paylantrx/Paylantrx.h"
#include <string>

namespace PLXDK::Paylantra {

// Property names are the host's, as narrow texts. Values are text on the host side: integers in
// decimal, true as "1" and false as the empty text, times as milliseconds since 1970-01-01 UTC.
class PLSession {
public:
    PLSession() = default;
    explicit PLSession(IUnknown* session);  // queries the host session interface
    virtual ~PLSession() = default;

    virtual std::wstring GetProperty(const std::string& name);
    // Empty reads 0; text that is no number raises VMAppException "Неверный формат числа: name=text".
    virtual long long GetPropertyInt(const std::string& name);
    virtual double GetPropertyReal(const std::string& name);
    // The empty time for an empty or malformed text.
    virtual RealTime GetPropertyTime(const std::string& name);
    virtual void ClearProperty(const std::string& name);
    virtual void SetProperty(const std::string& name, const std::wstring& value);
    virtual void SetPropertyInt(const std::string& name, long long value);
    virtual void SetPropertyUInt(const std::string& name, unsigned value);
    virtual void SetPropertyBool(const std::string& name, bool value);
    virtual void SetPropertyUInt64(const std::string& name, unsigned long long value);
    virtual void SetPropertyTime(const std::string& name, RealTime time);
    virtual void RaiseEvent(const std::string& name);
    // Raises the event through the session's automation member "Event", so that the host's
    // handling of it can fail: its error text becomes a VMAppException, other failures CoError.
    void InvokeEvent(const std::string& name);

    void SetProperty(const std::string& name, const std::string& value);  // ANSI text
    void SetProperty(const std::string& name, const char* value) { SetProperty(name, std::string(value)); }
    IPaylantraSession* Session() const { return session_.Get(); }

private:
    co<IPaylantraSession> session_;
};

}  // namespace PLXDK::Paylantra
