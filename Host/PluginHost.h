// Loading the plugin DLL as the terminal does, with the plugin's clock and message boxes under the
// simulator's control: the plugin module's imports of the system clock and of MessageBoxW/A are
// redirected, so the plugin itself carries nothing for tests.
#pragma once
#include "Harness/ScratchRegistry.h"
#include "AppFrame/Include/co.h"
#include "Host/HostObjects.h"
#include <string>
#include <vector>

namespace Host {

struct Box {
    std::wstring caption;
    std::wstring text;
    UINT type;
};

// The simulated local time. Unset, the real clock shows through; set, it runs on from the given
// moment with the real clock's pace, or stands still when held.
class Clock {
public:
    static void Set(const SYSTEMTIME& local, bool held = false);
    static void Clear();
    static bool IsSet();
    static SYSTEMTIME Local();
    static SYSTEMTIME Universal();
    // Moves the simulated time on without waiting.
    static void Advance(long long milliseconds);
};

// Every box the plugin showed, in order. The answer given to each is IDOK unless told otherwise.
class Boxes {
public:
    static std::vector<Box>& All();
    static void SetAnswer(int answer);
    static Transcript*& Sink();  // where each box is also recorded
};

// Redirects the module's imported function `name` (from any DLL) to `replacement`; the number of
// import slots changed.
int PatchImport(HMODULE module, const char* name, void* replacement);
// Puts the module's reading of the system clock under Clock: the one clock seam, for the plugin
// and for tests that hold the plugin's code linked in.
void RedirectClock(HMODULE module);
// Puts the module's message boxes under Boxes: recorded and answered, never shown.
void CaptureBoxes(HMODULE module);

class PluginModule {
public:
    PluginModule() = default;
    ~PluginModule() { Unload(); }
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    // LoadLibrary, redirect the clock and message-box imports, find DllGetClassObject. Raises
    // VelmorException naming what failed.
    void Load(const std::wstring& path);
    void Unload();
    bool IsLoaded() const { return module_ != nullptr; }
    HMODULE Handle() const { return module_; }

    // DllGetClassObject as the host calls it, its HRESULT unchanged.
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) const;
    // PaylantraPlugin_InstallInit as the host calls it: by name, plain C convention, a null pointer
    // and a zero flag; its answer. Raises when the plugin exports none.
    int InstallInit() const;
    // Class object, then CreateInstance; raises CoError when either fails.
    template <class I> co<I> Create(REFCLSID clsid) const {
        IClassFactory* factory = nullptr;
        CoCallEx(GetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), nullptr, "Host/PluginHost", __LINE__);
        co<IClassFactory> owned = co<IClassFactory>::Attach(factory);
        I* object = nullptr;
        CoCallEx(factory->CreateInstance(nullptr, __uuidof(I), reinterpret_cast<void**>(&object)), nullptr, "Host/PluginHost", __LINE__);
        return co<I>::Attach(object);
    }
    co<IPaylantraPlugin> CreatePlugin() const { return Create<IPaylantraPlugin>(CLSID_Plugin); }
    co<IPaylantraControlPlugin> CreateControlPlugin() const { return Create<IPaylantraControlPlugin>(CLSID_ControlPlugin); }

private:
    HMODULE module_ = nullptr;
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    GetClassObjectFn getClassObject_ = nullptr;
    using InstallInitFn = int(__cdecl*)(void*, unsigned char);
    InstallInitFn installInit_ = nullptr;
};

// The host's keys whose "CLSID" values name the plugin's two classes once it is installed.
inline constexpr wchar_t kPluginKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark";
inline constexpr wchar_t kControlPluginKey[] = L"Software\\Velmor\\Paylantra\\Control Plugins\\Tallymark";

// The class ID that the "CLSID" value of the machine key `hostKey` names, as the host reads it
// before it creates the object; false when there is no such value. Raises on a malformed one.
bool RegisteredClass(const wchar_t* hostKey, CLSID& clsid);
// The file that HKEY_CLASSES_ROOT names as the class's in-process server; empty when none.
std::wstring RegisteredServer(REFCLSID clsid);
std::wstring ClassText(REFCLSID clsid);  // "{XXXXXXXX-...}"
// CoCreateInstance of an in-process server; raises CoError when it fails.
template <class I>
co<I> CreateThroughCom(REFCLSID clsid) {
    I* object = nullptr;
    CoCallEx(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), reinterpret_cast<void**>(&object)), nullptr,
             "Host/PluginHost", __LINE__);
    return co<I>::Attach(object);
}

using ScratchHives = ::ScratchRegistry;

// New empty folders as %TEMP% and %TMP%, and as %APPDATA%, of the process while it lives; removed
// with all they hold.
class ScratchTemp {
public:
    ScratchTemp();
    ~ScratchTemp();
    ScratchTemp(const ScratchTemp&) = delete;
    ScratchTemp& operator=(const ScratchTemp&) = delete;
    const std::wstring& Folder() const { return folder_; }

private:
    std::wstring folder_, appData_, oldTemp_, oldTmp_, oldAppData_;
};

// The plugin's path beside this program or in the build's Plugin folder.
std::wstring DefaultPluginPath();

}  // namespace Host
