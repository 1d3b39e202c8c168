// The shared base of every COM object of the plugin: reference counting, dispatch through the
// interface's type information, object safety and error-info support.
#pragma once
#include "Paylantrx/PaylantrxLib.h"
#include <windows.h>
#include <vector>

namespace AppFrame {

// IUnknown for one interface I. The count starts at 1: the creator owns the first reference.
template <class I>
class IKnown : public I {
public:
    IKnown() = default;
    IKnown(const IKnown&) = delete;
    IKnown& operator=(const IKnown&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_INVALIDARG;
        *ppv = nullptr;
        if (IUnknown* answer = Answer(riid)) {
            answer->AddRef();
            *ppv = answer;
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&count_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG left = InterlockedDecrement(&count_);
        if (left == 0) delete this;
        return ULONG(left);
    }
    virtual ~IKnown() = default;

protected:
    // The interface that answers riid, not AddRef'ed, or null.
    virtual IUnknown* Answer(REFIID riid) {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(I))) return static_cast<I*>(this);
        return nullptr;
    }

private:
    volatile LONG count_ = 1;
};

// IDispatch over the type information of I.
template <class I>
class IDispatchType : public IKnown<I> {
public:
    explicit IDispatchType(ITypeInfo* typeInfo) : typeInfo_(typeInfo) {
        if (typeInfo_) typeInfo_->AddRef();
    }
    ~IDispatchType() override {
        if (typeInfo_) typeInfo_->Release();
    }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_INVALIDARG;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_INVALIDARG;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        typeInfo_->AddRef();
        *info = typeInfo_;
        return S_OK;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return DispGetIDsOfNames(typeInfo_, names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excepInfo, UINT* argError) override {
        return PaylantraInvoke(static_cast<I*>(this), typeInfo_, member, flags, params, result, excepInfo, argError);
    }

protected:
    IUnknown* Answer(REFIID riid) override {
        if (IsEqualIID(riid, IID_IDispatch)) return static_cast<I*>(this);
        return IKnown<I>::Answer(riid);
    }
    ITypeInfo* TypeInfo() const { return typeInfo_; }

private:
    ITypeInfo* typeInfo_;
};

// The object base proper. Every interface that a class serves beyond IUnknown is one entry of its
// interface table, made in its constructor with Serve: the table answers QueryInterface and
// declares the interface safe and with error information, so the two can never disagree.
template <class I>
class PaylantraObject2 : public IDispatchType<I> {
public:
    using Interface = I;

    PaylantraObject2() : PaylantraObject2(GetPaylantrxTypeInfo(__uuidof(I))) {}
    explicit PaylantraObject2(ITypeInfo* typeInfo)
        : IDispatchType<I>(typeInfo), safety_(static_cast<I*>(this)), errorInfo_(static_cast<I*>(this)) {
        Serve(IID_IDispatch, static_cast<I*>(this));
        Serve(__uuidof(I), static_cast<I*>(this));
    }

protected:
    // Adds riid to the interface table, answered by `answer` (a part of this object).
    void Serve(REFIID riid, IUnknown* answer) {
        interfaces_.push_back({riid, answer});
        safety_.SetInterfaceSafetyOptions(riid, INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA,
                                          INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA);
        errorInfo_.Add(riid);
    }

private:
    // The helpers answer for themselves and are no entries of the table.
    IUnknown* Answer(REFIID riid) final {
        if (IsEqualIID(riid, IID_IUnknown)) return static_cast<I*>(this);
        if (IsEqualIID(riid, IID_IObjectSafety)) return &safety_;
        if (IsEqualIID(riid, IID_ISupportErrorInfo)) return &errorInfo_;
        for (const Entry& entry : interfaces_)
            if (IsEqualIID(riid, entry.iid)) return entry.answer;
        return nullptr;
    }

    struct Entry {
        IID iid;
        IUnknown* answer;
    };
    std::vector<Entry> interfaces_;
    ObjectSafety2 safety_;
    SupportErrorInfo errorInfo_;
};

}  // namespace AppFrame

using AppFrame::IDispatchType;
using AppFrame::IKnown;
using AppFrame::PaylantraObject2;
