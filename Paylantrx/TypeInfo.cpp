#include "Paylantrx/PaylantrxLib.h"
#include <algorithm>
#include <mutex>

namespace {

const char kSource[] = "Paylantrx/TypeInfo";

// The module that holds this code: the plugin DLL, or a program that links the library.
HMODULE OwnModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&OwnModule), &module);
    return module;
}

void Check(HRESULT hr, int line) {
    if (FAILED(hr)) throw CoError(hr, OwnModule(), kSource, line);
}

struct Cache {
    std::mutex lock;
    ITypeLib* library = nullptr;
    std::vector<std::pair<IID, ITypeInfo*>> infos;
};

Cache& TheCache() {
    static Cache* cache = new Cache;  // never freed: the pointers handed out live as long as the process
    return *cache;
}

ITypeLib* LoadLibraryLocked(Cache& cache) {
    if (!cache.library) {
        wchar_t path[MAX_PATH * 2] = {};
        DWORD length = GetModuleFileNameW(OwnModule(), path, DWORD(std::size(path)));
        if (length == 0 || length >= std::size(path)) throw WindowsError(GetLastError(), kSource, __LINE__);
        Check(LoadTypeLibEx(path, REGKIND_NONE, &cache.library), __LINE__);
    }
    return cache.library;
}

}  // namespace

ITypeLib* GetPaylantrxTypeLib() {
    Cache& cache = TheCache();
    std::lock_guard guard(cache.lock);
    return LoadLibraryLocked(cache);
}

ITypeInfo* GetPaylantrxTypeInfo(REFIID iid) {
    Cache& cache = TheCache();
    std::lock_guard guard(cache.lock);
    for (auto& [known, info] : cache.infos)
        if (IsEqualIID(known, iid)) return info;
    ITypeLib* library = LoadLibraryLocked(cache);
    ITypeInfo* info = nullptr;
    Check(library->GetTypeInfoOfGuid(iid, &info), __LINE__);
    // A dual interface is found as its dispinterface; DispInvoke calls through the vtable side.
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&attr))) {
        bool dual = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
        info->ReleaseTypeAttr(attr);
        HREFTYPE ref = 0;
        ITypeInfo* vtable = nullptr;
        if (dual && SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref)) && SUCCEEDED(info->GetRefTypeInfo(ref, &vtable))) {
            info->Release();
            info = vtable;
        }
    }
    cache.infos.emplace_back(iid, info);
    return info;
}

STDMETHODIMP ObjectSafety2::GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) {
    if (!supported || !enabled) return E_POINTER;
    for (auto& [iid, options] : options_)
        if (IsEqualIID(iid, riid)) {
            *supported = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
            *enabled = options;
            return S_OK;
        }
    *supported = *enabled = 0;
    return E_NOINTERFACE;
}

STDMETHODIMP ObjectSafety2::SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD options) {
    constexpr DWORD kSupported = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    if (mask & ~kSupported) return E_FAIL;
    for (auto& [iid, current] : options_)
        if (IsEqualIID(iid, riid)) {
            current = (current & ~mask) | (options & mask);
            return S_OK;
        }
    try {
        options_.emplace_back(riid, options & mask);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void SupportErrorInfo::Add(REFIID riid) {
    if (std::none_of(iids_.begin(), iids_.end(), [&](const IID& iid) { return IsEqualIID(iid, riid); }))
        iids_.push_back(riid);
}

STDMETHODIMP SupportErrorInfo::InterfaceSupportsErrorInfo(REFIID riid) {
    for (const IID& iid : iids_)
        if (IsEqualIID(iid, riid)) return S_OK;
    return S_FALSE;
}
