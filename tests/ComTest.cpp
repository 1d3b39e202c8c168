// The plugin's COM objects as the host meets them: the DLL loaded with LoadLibrary, objects made
// through its class factory, calls through vtables and through IDispatch by name.
#include "AppFrame/Include/PaylantraObject.h"
#include "Framework/Registry.h"
#include "Framework/Text.h"
#include "Host/HostObjects.h"
#include "Host/PluginHost.h"
#include "Plugin/TerminalExtender.h"
#include "Plugin/Settings/Config.h"
#include "tests/RegistryFixture.h"
#include "PluginVersion.h"
#include <gtest/gtest.h>
#include <objsafe.h>
#include <stdexcept>

namespace {


std::wstring Env(const wchar_t* name) {
    wchar_t buffer[256] = {};
    DWORD length = GetEnvironmentVariableW(name, buffer, 256);
    return length && length < 256 ? buffer : L"";
}

struct Excep {
    HRESULT hr;
    EXCEPINFO info{};
    ~Excep() {
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
    }
    std::wstring Source() const { return info.bstrSource ? info.bstrSource : L""; }
    std::wstring Description() const { return info.bstrDescription ? info.bstrDescription : L""; }
};

// Calls `member` by name through IDispatch with one object argument.
void InvokeByName(IDispatch* object, const wchar_t* member, IDispatch* argument, Excep& out) {
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(member);
    ASSERT_EQ(S_OK, object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_DISPATCH;
    arg.pdispVal = argument;
    DISPPARAMS params{&arg, nullptr, 1, 0};
    out.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, &out.info, nullptr);
}

class PluginDll : public RegistryTest {
protected:
    void SetUp() override {
        _putenv("Tallymark.Installed=");
        ASSERT_NO_THROW(module_.Load(Host::DefaultPluginPath()));
    }
    void TearDown() override { _putenv("Tallymark.Installed="); }

    co<IClassFactory> Factory(REFCLSID clsid) {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(S_OK, module_.GetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
        return co<IClassFactory>::Attach(factory);
    }

    Host::PluginModule module_;
    Host::Terminal host_;
};

TEST_F(PluginDll, ClassObjectAnswersOnlyItsTwoClasses) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, module_.GetClassObject(IID_IPaylantraPlugin, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_NOINTERFACE, module_.GetClassObject(CLSID_Plugin, IID_IDispatch, &object));
    EXPECT_EQ(E_INVALIDARG, module_.GetClassObject(CLSID_ControlPlugin, IID_IClassFactory, nullptr));
    IUnknown* unknown = nullptr;
    ASSERT_EQ(S_OK, module_.GetClassObject(CLSID_ControlPlugin, IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    // The factory handed out holds only the caller's reference.
    EXPECT_EQ(0u, unknown->Release());
}

TEST_F(PluginDll, CreateInstanceAcceptsOnlyTheClassInterfaces) {
    struct Case {
        const CLSID* clsid;
        const IID* iid;
        HRESULT expected;
    } cases[] = {
        {&CLSID_Plugin, &IID_IUnknown, S_OK},
        {&CLSID_Plugin, &IID_IDispatch, S_OK},
        {&CLSID_Plugin, &IID_IPaylantraPlugin, S_OK},
        {&CLSID_Plugin, &IID_IPaylantraControlPlugin, E_NOINTERFACE},
        {&CLSID_Plugin, &IID_IObjectSafety, E_NOINTERFACE},
        {&CLSID_ControlPlugin, &IID_IPaylantraControlPlugin, S_OK},
        {&CLSID_ControlPlugin, &IID_IPaylantraPlugin, E_NOINTERFACE},
    };
    for (const Case& c : cases) {
        co<IClassFactory> factory = Factory(*c.clsid);
        IUnknown* object = reinterpret_cast<IUnknown*>(1);
        EXPECT_EQ(c.expected, factory->CreateInstance(nullptr, *c.iid, reinterpret_cast<void**>(&object)));
        if (c.expected == S_OK) {
            ASSERT_NE(nullptr, object);
            EXPECT_EQ(0u, object->Release()) << "a new object starts with the caller's reference only";
        } else {
            EXPECT_EQ(nullptr, object);
        }
    }
    EXPECT_EQ(E_INVALIDARG, Factory(CLSID_Plugin)->CreateInstance(nullptr, IID_IUnknown, nullptr));
}

TEST_F(PluginDll, ObjectAnswersItsInterfacesAndHelpers) {
    co<IPaylantraPlugin> plugin = module_.CreatePlugin();
    const IID* answered[] = {&IID_IUnknown, &IID_IDispatch, &IID_IPaylantraPlugin, &IID_IObjectSafety,
                             &IID_ISupportErrorInfo};
    for (const IID* iid : answered) {
        IUnknown* found = nullptr;
        EXPECT_EQ(S_OK, plugin->QueryInterface(*iid, reinterpret_cast<void**>(&found)));
        ASSERT_NE(nullptr, found);
        IUnknown* identity = nullptr;
        found->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
        EXPECT_EQ(static_cast<IUnknown*>(plugin.Get()), identity) << "helpers must keep the object's identity";
        identity->Release();
        found->Release();
    }
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, plugin->QueryInterface(IID_IPaylantraControlPlugin, &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(E_INVALIDARG, plugin->QueryInterface(IID_IUnknown, nullptr));

    co<ISupportErrorInfo> errorInfo(plugin.Get());
    EXPECT_EQ(S_OK, errorInfo->InterfaceSupportsErrorInfo(IID_IPaylantraPlugin));
    EXPECT_EQ(S_OK, errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch));
    EXPECT_EQ(S_FALSE, errorInfo->InterfaceSupportsErrorInfo(IID_IPaylantraControlPlugin));
    co<IObjectSafety> safety(plugin.Get(), IID_IObjectSafety);
    DWORD supported = 0, enabled = 0;
    EXPECT_EQ(S_OK, safety->GetInterfaceSafetyOptions(IID_IPaylantraPlugin, &supported, &enabled));
    EXPECT_EQ(3u, enabled);
    EXPECT_EQ(E_NOINTERFACE, safety->GetInterfaceSafetyOptions(IID_IPaylantraControlPlugin, &supported, &enabled));
}

TEST_F(PluginDll, TerminalExtenderServesEveryInterfaceWithErrorInfo) {
    co<IPaylantraPlugin> plugin = module_.CreatePlugin();
    ASSERT_EQ(S_OK, plugin->Attach(host_.Object()));
    ASSERT_EQ(1u, host_.Extenders().Items().size());
    IUnknown* extender = host_.Extenders().Items()[0].Get();
    co<ISupportErrorInfo> errorInfo(extender);
    ASSERT_TRUE(errorInfo);
    // The host holds the extender through its first interface: errors on it must carry their text.
    for (const IID* iid : {&IID_IDispatch, &IID_IPaylantraTerminalExtender, &IID_IPaylantraTerminalExtender2,
                           &Plugin::IID_ITallymarkTerminalExtender}) {
        IUnknown* found = nullptr;
        EXPECT_EQ(S_OK, extender->QueryInterface(*iid, reinterpret_cast<void**>(&found)));
        if (found) found->Release();
        EXPECT_EQ(S_OK, errorInfo->InterfaceSupportsErrorInfo(*iid));
    }
    EXPECT_EQ(S_FALSE, errorInfo->InterfaceSupportsErrorInfo(IID_IPaylantraPlugin));
    host_.ReleaseExtenders();
}

TEST_F(PluginDll, AttachByNameAttachesAndPublishesTheVersion) {
    co<IPaylantraPlugin> plugin = module_.CreatePlugin();
    UINT count = 0;
    EXPECT_EQ(S_OK, plugin->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    Excep call;
    InvokeByName(plugin.Get(), L"Attach", host_.Object(), call);
    EXPECT_EQ(S_OK, call.hr) << call.Description();
    EXPECT_EQ(L"" TALLYMARK_VERSION_TEXT, Env(L"Tallymark.Installed"));
    EXPECT_EQ(1u, host_.Extenders().Items().size());
    host_.ReleaseExtenders();
}

TEST_F(PluginDll, DisabledAttachLeavesTheHostUntouched) {
    RegKey(HKEY_LOCAL_MACHINE, Plugin::kPluginKey, true, kRegWriteAccess)[L"Disabled"] = DWORD(1);
    host_.FailMethod(L"Terminal.GetTerminalExtenders", E_FAIL);  // would show if Attach went on
    co<IPaylantraPlugin> plugin = module_.CreatePlugin();
    EXPECT_EQ(S_OK, plugin->Attach(host_.Object()));
    EXPECT_TRUE(host_.transcript.Records().empty());
    EXPECT_TRUE(host_.Extenders().Items().empty());
    EXPECT_EQ(L"", Env(L"Tallymark.Installed"));
}

TEST_F(PluginDll, AttachControlPublishesFromDisabledAndReleaseClears) {
    struct Case {
        DWORD disabled, controlDisabled;
        const wchar_t* installed;
    } cases[] = {{0, 0, L"" TALLYMARK_VERSION_TEXT}, {1, 0, L""}, {0, 1, L"" TALLYMARK_VERSION_TEXT}, {1, 1, L""}};
    for (const Case& c : cases) {
        RegKey(HKEY_LOCAL_MACHINE, Plugin::kPluginKey, true, kRegWriteAccess)[L"Disabled"] = c.disabled;
        RegKey(HKEY_CURRENT_USER, Plugin::kPluginKey, true, kRegWriteAccess)[L"Control Disabled"] = c.controlDisabled;
        _putenv("Tallymark.Installed=stale");
        co<IPaylantraControlPlugin> control = module_.CreateControlPlugin();
        EXPECT_EQ(S_OK, control->AttachControl(&host_.Panel()));
        EXPECT_EQ(c.installed, Env(L"Tallymark.Installed")) << c.disabled << c.controlDisabled;
        if (c.controlDisabled) {
            EXPECT_TRUE(host_.Panel().Pages().empty());
        }
        host_.Panel().Close();
        control.Reset();
        EXPECT_EQ(L"", Env(L"Tallymark.Installed"));
    }
}

TEST_F(PluginDll, FailedHostCallBecomesCoErrorException) {
    host_.FailMethod(L"Terminal.GetTerminalExtenders", E_ACCESSDENIED);
    co<IPaylantraPlugin> plugin = module_.CreatePlugin();
    Excep call;
    InvokeByName(plugin.Get(), L"Attach", host_.Object(), call);
    EXPECT_EQ(DISP_E_EXCEPTION, call.hr);
    EXPECT_EQ(DISP_E_EXCEPTION, call.info.scode);
    EXPECT_EQ(WORD(E_ACCESSDENIED), call.info.wCode);
    EXPECT_EQ(L"Velmor Paylantra", call.Source());
    EXPECT_NE(std::wstring::npos, call.Description().find(L"80070005")) << call.Description();
    EXPECT_NE(std::wstring::npos, call.Description().find(L"Plugin/Plugin")) << call.Description();
    EXPECT_EQ(L"", Env(L"Tallymark.Installed"));
}

TEST_F(PluginDll, NullTerminalIsFrameworkErrorNotCrash) {
    co<IPaylantraPlugin> plugin = module_.CreatePlugin();
    Excep call;
    InvokeByName(plugin.Get(), L"Attach", nullptr, call);
    EXPECT_EQ(DISP_E_EXCEPTION, call.hr);
    EXPECT_EQ(59999, call.info.wCode);
    EXPECT_EQ(L"Velmor Paylantra", call.Source());
    EXPECT_NE(std::wstring::npos, call.Description().find(L"no terminal")) << call.Description();
    // Called through the vtable the failure arrives as an HRESULT with error information.
    SetErrorInfo(0, nullptr);
    EXPECT_TRUE(FAILED(plugin->Attach(nullptr)));
    IErrorInfo* info = nullptr;
    ASSERT_EQ(S_OK, GetErrorInfo(0, &info));
    BSTR source = nullptr;
    info->GetSource(&source);
    EXPECT_STREQ(L"Velmor Paylantra", source);
    SysFreeString(source);
    info->Release();
}

// An object of the shared base, inside this test program, whose method fails in a chosen way.
enum class Failure { None, LeftErrorInfo, LeftErrorInfoNoContext, OleAuto, OleAutoBare, Co, Framework, App, Unknown };

class Failing : public PaylantraObject2<IPaylantraPlugin> {
public:
    explicit Failing(Failure how) : how_(how) {}
    STDMETHODIMP Attach(IDispatch*) override {
        return PAYLANTRA_METHOD("tests/ComTest", [&] {
            switch (how_) {
            case Failure::None: return;
            case Failure::LeftErrorInfo:
            case Failure::LeftErrorInfoNoContext: {
                ICreateErrorInfo* create = nullptr;
                CreateErrorInfo(&create);
                create->SetDescription(const_cast<LPOLESTR>(L"left behind"));
                if (how_ == Failure::LeftErrorInfo) create->SetHelpContext(4242);
                IErrorInfo* info = nullptr;
                create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
                SetErrorInfo(0, info);
                info->Release();
                create->Release();
                return;
            }
            case Failure::OleAuto: throw OleAutoException(1234, L"Some.Source", L"описание ошибки");
            case Failure::OleAutoBare: throw OleAutoException(77, L"", L"", "the reason");
            case Failure::Co: throw CoError(E_OUTOFMEMORY, nullptr, "tests/ComTest", 99);
            case Failure::Framework: throw InternalError("misuse of a routine");
            case Failure::App: throw VMAppException(L"Ошибка для человека");
            case Failure::Unknown: throw std::runtime_error("not a framework exception");
            }
        });
    }

private:
    Failure how_;
};

TEST(Dispatch, InvokeMapsEveryFailureByItsKind) {
    struct Case {
        Failure how;
        HRESULT hr;
        WORD code;
        const wchar_t* source;
        const wchar_t* description;
    } cases[] = {
        {Failure::None, S_OK, 0, L"", L""},
        {Failure::LeftErrorInfo, DISP_E_EXCEPTION, 4242, L"Velmor Paylantra", L"left behind"},
        {Failure::LeftErrorInfoNoContext, DISP_E_EXCEPTION, 0, L"Velmor Paylantra", L"left behind"},
        {Failure::OleAuto, DISP_E_EXCEPTION, 1234, L"Some.Source", L"описание ошибки"},
        {Failure::OleAutoBare, DISP_E_EXCEPTION, 77, L"Velmor Paylantra", L"the reason"},
        {Failure::Co, DISP_E_EXCEPTION, WORD(E_OUTOFMEMORY), L"Velmor Paylantra", L"COM error 8007000E at \"tests/ComTest\":99"},
        {Failure::Framework, DISP_E_EXCEPTION, 59999, L"Velmor Paylantra", L"misuse of a routine"},
        {Failure::App, DISP_E_EXCEPTION, 59999, L"Velmor Paylantra", L"Ошибка для человека"},
        {Failure::Unknown, DISP_E_EXCEPTION, 59999, L"Velmor Paylantra", L"Необработанная ошибка неизвестного типа"},
    };
    for (const Case& c : cases) {
        co<IPaylantraPlugin> object = co<IPaylantraPlugin>::Attach(new Failing(c.how));
        Excep call;
        InvokeByName(object.Get(), L"Attach", nullptr, call);
        SCOPED_TRACE(int(c.how));
        EXPECT_EQ(c.hr, call.hr);
        EXPECT_EQ(c.code, call.info.wCode);
        EXPECT_EQ(c.source, call.Source());
        EXPECT_EQ(c.description, call.Description());
        if (c.hr == DISP_E_EXCEPTION) {
            EXPECT_EQ(DISP_E_EXCEPTION, call.info.scode);
        }
        // Without EXCEPINFO only the result comes back.
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        VARIANT arg;
        VariantInit(&arg);
        arg.vt = VT_DISPATCH;
        arg.pdispVal = nullptr;
        none.rgvarg = &arg;
        none.cArgs = 1;
        EXPECT_EQ(c.hr, object->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    }
}

// Calls another framed object through its vtable, takes its error information as a host would,
// and returns normally.
class Caller : public PaylantraObject2<IPaylantraPlugin> {
public:
    STDMETHODIMP Attach(IDispatch*) override {
        return PAYLANTRA_METHOD("tests/ComTest", [&] {
            co<IPaylantraPlugin> inner = co<IPaylantraPlugin>::Attach(new Failing(Failure::Framework));
            innerResult = inner->Attach(nullptr);
            IErrorInfo* info = nullptr;
            if (GetErrorInfo(0, &info) == S_OK) info->Release();
        });
    }
    HRESULT innerResult = S_OK;
};

TEST(Dispatch, NestedFailureThatWasHandledDoesNotFailTheOuterCall) {
    auto* caller = new Caller;
    co<IPaylantraPlugin> object = co<IPaylantraPlugin>::Attach(caller);
    Excep call;
    InvokeByName(object.Get(), L"Attach", nullptr, call);
    EXPECT_EQ(E_FAIL, caller->innerResult);
    EXPECT_EQ(S_OK, call.hr) << call.Description();
    EXPECT_EQ(L"", call.Description());
}

TEST(Dispatch, UnknownNameAndBadArgumentsAreDispatchErrors) {
    co<IPaylantraPlugin> object = co<IPaylantraPlugin>::Attach(new Failing(Failure::None));
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(L"NoSuchMember");
    EXPECT_EQ(DISP_E_UNKNOWNNAME, object->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, object->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
}

TEST(TypeLibrary, CoclassesCarryTheClassIdsTheDllServes) {
    struct Case {
        const wchar_t* name;
        const CLSID* clsid;
    } cases[] = {{L"Plugin", &CLSID_Plugin}, {L"ControlPlugin", &CLSID_ControlPlugin}};
    ITypeLib* library = GetPaylantrxTypeLib();
    for (const Case& c : cases) {
        ITypeInfo* info = nullptr;
        MEMBERID member = 0;
        USHORT found = 1;
        std::wstring name = c.name;
        ASSERT_EQ(S_OK, library->FindName(name.data(), 0, &info, &member, &found));
        ASSERT_EQ(1, found) << name;
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        EXPECT_EQ(TKIND_COCLASS, attr->typekind);
        EXPECT_TRUE(IsEqualCLSID(*c.clsid, attr->guid)) << name;
        info->ReleaseTypeAttr(attr);
        info->Release();
    }
}

TEST(TypeLibrary, SlotNumbersHoldForTheHostInterfaces) {
    // The vtable offset of a member in the type information must be its slot times the pointer size.
    struct Case {
        const IID* iid;
        const wchar_t* member;
        int slot;
    } cases[] = {
        {&IID_IPaylantraTerminal, L"GetEnvironment", 8},   {&IID_IPaylantraTerminal, L"GetTerminalExtenders", 10},
        {&IID_IPaylantraTerminal, L"GetCash", 12},         {&IID_IPaylantraTerminal, L"GetDevices", 13},
        {&IID_IPaylantraSession, L"Event", 9},             {&IID_IPaylantraSession, L"SetProperty", 11},
        {&IID_IPaylantraSession, L"GetProperty", 12},      {&IID_IPaylantraSession, L"AddExtender", 14},
        {&IID_IPaylantraApplication, L"Navigate", 14},     {&IID_IPaylantraApplication, L"RunScript", 16},
        {&IID_IPaylantraApplication, L"WithdrawFailure", 19}, {&IID_IPaylantraTerminalExtenders, L"SetFailure", 11},
        {&IID_IPaylantraTerminalExtenders, L"Add", 12},    {&IID_IPaylantraCash, L"GetActiveSession", 14},
        {&IID_IPaylantraCash, L"GetCurrency", 20},         {&IID_IPaylantraBill, L"GetCurrency", 8},
        {&IID_IPaylantraFlags, L"IsSet", 11},              {&IID_IPaylantraTerminalExtender2, L"OnNotify", 15},
        {&IID_IPaylantraSessionExtender2, L"OnSetProperty", 14}, {&IID_IPaylantraCashSessionEvents, L"OnFailure", 15},
        {&IID_IPaylantraControlPage, L"Apply", 11},
    };
    for (const Case& c : cases) {
        ITypeInfo* info = GetPaylantrxTypeInfo(*c.iid);
        MEMBERID id = 0;
        LPOLESTR name = const_cast<LPOLESTR>(c.member);
        ASSERT_EQ(S_OK, info->GetIDsOfNames(&name, 1, &id)) << c.member;
        EXPECT_EQ(c.slot, id) << c.member;
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        bool seen = false;
        for (UINT i = 0; i < attr->cFuncs; ++i) {
            FUNCDESC* func = nullptr;
            info->GetFuncDesc(i, &func);
            if (func->memid == id) {
                EXPECT_EQ(c.slot * int(sizeof(void*)), func->oVft) << c.member;
                seen = true;
            }
            info->ReleaseFuncDesc(func);
        }
        info->ReleaseTypeAttr(attr);
        EXPECT_TRUE(seen) << c.member;
    }
}

}  // namespace
