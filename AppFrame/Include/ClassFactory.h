// The class object of one coclass T. T derives from PaylantraObject2<T::Interface> and is made
// with the type information of its interface.
#pragma once
#include "AppFrame/Include/PaylantraObject.h"
#include <windows.h>
#include <new>

namespace AppFrame {

template <class T>
class ClassFactory : public IKnown<IClassFactory> {
public:
    using Interface = typename T::Interface;

    // Raises CoError when the type information cannot be had.
    ClassFactory() : typeInfo_(GetPaylantrxTypeInfo(__uuidof(Interface))) { typeInfo_->AddRef(); }
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    // The outer unknown is ignored: these objects do not aggregate.
    STDMETHODIMP CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
        if (!ppv) return E_INVALIDARG;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
            !IsEqualIID(riid, __uuidof(Interface)))
            return E_NOINTERFACE;
        return PAYLANTRA_METHOD("AppFrame/Include/ClassFactory", [&] {
            *ppv = static_cast<Interface*>(new T(typeInfo_));  // its first reference is the caller's
        });
    }
    STDMETHODIMP LockServer(BOOL lock) override { return CoLockObjectExternal(this, lock, FALSE); }
    ~ClassFactory() override { typeInfo_->Release(); }

private:
    ITypeInfo* typeInfo_;
};

}  // namespace AppFrame

using AppFrame::ClassFactory;
