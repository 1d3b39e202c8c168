// Services of the host's automation library that every COM object of the plugin stands on:
// type information, the object-safety and error-info helpers, and the error frame of a COM method.
#pragma once
#include "Paylantrx/Paylantrx.h"
#include "Framework/Exceptions.h"
#include <objsafe.h>
#include <oaidl.h>
#include <exception>
#include <utility>
#include <vector>

// The ITypeInfo (not AddRef'ed; it lives as long as the process) of an interface described by the
// type library embedded in the module that holds this code. For a dual interface this is the
// vtable side, which DispInvoke needs. Raises CoError when the library or the interface is missing.
ITypeInfo* GetPaylantrxTypeInfo(REFIID iid);
// The type library itself (not AddRef'ed).
ITypeLib* GetPaylantrxTypeLib();

// IObjectSafety over an object's own IUnknown: the object declares per interface which safety
// options hold. Reference counting and QueryInterface go to the owner.
class ObjectSafety2 : public IObjectSafety {
public:
    explicit ObjectSafety2(IUnknown* owner) : owner_(owner) {}
    ObjectSafety2(const ObjectSafety2&) = delete;
    ObjectSafety2& operator=(const ObjectSafety2&) = delete;
    virtual ~ObjectSafety2() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return owner_->QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }
    STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) override;
    STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD options) override;

private:
    IUnknown* owner_;
    std::vector<std::pair<IID, DWORD>> options_;  // the interfaces the owner declared, with their options
};

// ISupportErrorInfo over an object's own IUnknown, answering S_OK for the interfaces added.
class SupportErrorInfo : public ISupportErrorInfo {
public:
    explicit SupportErrorInfo(IUnknown* owner) : owner_(owner) {}
    SupportErrorInfo(const SupportErrorInfo&) = delete;
    SupportErrorInfo& operator=(const SupportErrorInfo&) = delete;
    virtual ~SupportErrorInfo() = default;

    void Add(REFIID riid);
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return owner_->QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

private:
    IUnknown* owner_;
    std::vector<IID> iids_;
};

// The source every error of the plugin carries.
inline constexpr const wchar_t* kPaylantraErrorSource = L"Velmor Paylantra";
// Sets the thread's error information, as a failing COM method leaves it for its caller.
void RecordErrorInfo(const std::wstring& description, const std::wstring& source, DWORD helpContext) noexcept;

// The error code of framework and unknown exceptions, in EXCEPINFO and in the error information.
inline constexpr WORD kFrameworkErrorCode = 59999;

// The error frame of one COM method. Begin opens it; inside the method's catch handlers the
// matching PaylantraFrameException records the error information (SetErrorInfo, source
// "Velmor Paylantra") and keeps the exception for the dispatcher; End closes it. Exception
// returns the failing HRESULT the method should answer.
struct PaylantraFrame {
    const char* signature;
    const char* file;
    int line;
};
PaylantraFrame PaylantraFrameBegin(const char* signature, const char* file, int line);
HRESULT PaylantraFrameException(const PaylantraFrame& frame, const OleAutoException& error);
HRESULT PaylantraFrameException(const PaylantraFrame& frame, const CoError& error);
HRESULT PaylantraFrameException(const PaylantraFrame& frame, const VelmorException& error);
HRESULT PaylantraFrameException(const PaylantraFrame& frame);  // an exception of unknown type
void PaylantraFrameEnd(const PaylantraFrame& frame);

// The exception that the last framed method of this thread caught, for Invoke to map by its kind.
// Taking it leaves none kept.
std::exception_ptr PaylantraTakeKeptException();
void PaylantraClearKeptException();

// Runs `body` (returning void or HRESULT) inside an error frame; nothing escapes. Use it as the
// whole body of a COM method: return PAYLANTRA_METHOD("Plugin/Plugin", [&] { ... });
template <class Body>
HRESULT PaylantraGuard(const char* signature, const char* file, int line, Body&& body) noexcept {
    PaylantraFrame frame = PaylantraFrameBegin(signature, file, line);
    HRESULT hr = S_OK;
    try {
        if constexpr (std::is_void_v<decltype(body())>)
            body();
        else
            hr = body();
        // What a nested framed call kept is not this method's failure.
        PaylantraClearKeptException();
    } catch (const OleAutoException& error) {
        hr = PaylantraFrameException(frame, error);
    } catch (const CoError& error) {
        hr = PaylantraFrameException(frame, error);
    } catch (const VelmorException& error) {
        hr = PaylantraFrameException(frame, error);
    } catch (...) {
        hr = PaylantraFrameException(frame);
    }
    PaylantraFrameEnd(frame);
    return hr;
}
#define PAYLANTRA_METHOD(file, ...) PaylantraGuard(__PRETTY_FUNCTION__, (file), __LINE__, __VA_ARGS__)

// Invoke through the type information, mapping whatever the method failed with into EXCEPINFO and
// DISP_E_EXCEPTION by the kind of the exception it kept (or the error information it left).
HRESULT PaylantraInvoke(IDispatch* self, ITypeInfo* typeInfo, DISPID member, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excepInfo, UINT* argError) noexcept;
