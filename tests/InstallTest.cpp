// The installation export as the host calls it, on a scratch registry (classes root included), and
// what the DLL carries for its installation: type library and version record.
#include "Framework/Paths.h"
#include "Framework/RealTime.h"
#include "Framework/Registry.h"
#include "Framework/Text.h"
#include "Host/PluginHost.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Settings/Settings.h"
#include "tests/HeldClock.h"
#include "tests/RegistryFixture.h"
#include "tests/TestFiles.h"
#include "PluginVersion.h"
#include <gtest/gtest.h>
#include <tuple>

namespace {

using namespace Plugin;

constexpr wchar_t kDescription[] = L"Velmor Paylantra Tallymark plugin";

std::wstring Text(HKEY root, const std::wstring& path, const wchar_t* name) {
    RegKey key(root, path, false, kRegReadAccess);
    return key[name].Text().value_or(L"(none)");
}

std::optional<DWORD> Int(HKEY root, const std::wstring& path, const wchar_t* name) {
    return RegKey(root, path, false, kRegReadAccess)[name].Int();
}

bool KeyExists(HKEY root, const std::wstring& path) { return RegKey(root, path, false, kRegReadAccess).IsOpen(); }

std::wstring Sub(const wchar_t* key, const std::wstring& sub) { return std::wstring(key) + L"\\" + sub; }

class Installation : public RegistryTest {
protected:
    void SetUp() override {
        ASSERT_NO_THROW(module_.Load(Host::DefaultPluginPath()));
        RegKey(HKEY_LOCAL_MACHINE, kHostKey, true, kRegWriteAccess)[L"Root Path"] = L"C:\\Terminal";
    }
    void TearDown() override { Host::Boxes::All().clear(); }

    void SetHost(const wchar_t* name, const std::wstring& value) {
        RegKey(HKEY_LOCAL_MACHINE, kHostKey, true, kRegWriteAccess)[name] = value;
    }
    RegKey Machine(const wchar_t* key) { return RegKey(HKEY_LOCAL_MACHINE, key, true, kRegWriteAccess); }
    std::wstring ClassKey(REFCLSID clsid) { return L"CLSID\\" + Host::ClassText(clsid); }
    // Nothing of the installation stands: no registration, no configuration.
    void ExpectNothingWritten() {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(CLSID_Plugin)));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPluginKey));
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kPluginKey));
        EXPECT_EQ(L"(none)", Text(HKEY_LOCAL_MACHINE, kHostURLKey, L"collect"));
    }
    std::wstring BoxText() const {
        return Host::Boxes::All().empty() ? std::wstring() : Host::Boxes::All().back().text;
    }

    HeldClock clock_{LocalTime(2026, 12, 8, 10, 30, 0)};
    Host::PluginModule module_;
};

// The installation and the control page stand on one settings model: what the first seeds, the
// second reads back as exactly its own defaults.
TEST_F(Installation, SeededSettingsReadBackAsTheModelsDefaults) {
    ASSERT_EQ(1, module_.InstallInit());
    const CollectionSettings defaults;
    CollectionSettings read;
    read.Read(PluginOptions());
    EXPECT_EQ(read.Seed(), defaults.Seed());
    EXPECT_EQ(std::tuple(read.xReport, read.zReport, read.completeOnStacker),
              std::tuple(defaults.xReport, defaults.zReport, defaults.completeOnStacker));
    EXPECT_EQ(ReadAlertEvents(), InstalledAlertEvents());
    const StackerLimit limit = StackerLimit::Read(true), installed = StackerLimit::Installed();
    EXPECT_EQ(std::tuple(limit.countLimited, limit.countLimit, limit.sumLimited, limit.notice, limit.failure, limit.blocking),
              std::tuple(installed.countLimited, installed.countLimit, installed.sumLimited, installed.notice,
                         installed.failure, installed.blocking));
}

TEST_F(Installation, FirstRunRegistersBothClassesAndSeedsTheDefaults) {
    ASSERT_EQ(1, module_.InstallInit());
    EXPECT_TRUE(Host::Boxes::All().empty());

    const std::wstring dll = ModuleFileNameW(module_.Handle());
    for (const CLSID* clsid : {&CLSID_Plugin, &CLSID_ControlPlugin}) {
        EXPECT_EQ(kDescription, Text(HKEY_CLASSES_ROOT, ClassKey(*clsid), L""));
        EXPECT_EQ(dll, Text(HKEY_CLASSES_ROOT, ClassKey(*clsid) + L"\\InProcServer32", L""));
        EXPECT_EQ(L"Both", Text(HKEY_CLASSES_ROOT, ClassKey(*clsid) + L"\\InProcServer32", L"ThreadingModel"));
    }
    EXPECT_EQ(Host::ClassText(CLSID_Plugin), Text(HKEY_LOCAL_MACHINE, kPluginKey, L"CLSID"));
    EXPECT_EQ(Host::ClassText(CLSID_ControlPlugin), Text(HKEY_LOCAL_MACHINE, kControlPluginKey, L"CLSID"));
    EXPECT_EQ(L"C:\\Terminal\\html\\Tallymark\\collect.html", Text(HKEY_LOCAL_MACHINE, kHostURLKey, L"collect"));
    EXPECT_EQ(L"C:\\Terminal\\Logs\\Tallymark\\Tallymark *.txt", Text(HKEY_LOCAL_MACHINE, kPluginKey, L"LogPath"));

    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kPluginKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kCollectKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Sub(kBillCountersKey, L"Collect")));
    EXPECT_EQ(Format(clock_.Now().UTC(), 0), Text(HKEY_LOCAL_MACHINE, Sub(kBillCountersKey, L"Terminal"), L"Reset Timestamp"));

    EXPECT_EQ(L"Переполнение стекера", Text(HKEY_LOCAL_MACHINE, Sub(kAlertsKey, L"BillCounterOverflow"), L"Description"));
    EXPECT_EQ(L"Напечатан Z-отчёт", Text(HKEY_LOCAL_MACHINE, Sub(kAlertsKey, L"ZReport"), L"Description"));
    EXPECT_EQ(L"zreport.message", Text(HKEY_LOCAL_MACHINE, Sub(kAlertsKey, L"ZReport\\email"), L"template"));
    EXPECT_FALSE(Machine(Sub(kAlertsKey, L"control.BillCounterLimit").c_str())[L"Description"].Valid());
    EXPECT_EQ(L"BillCounterOverflow.message",
              Text(HKEY_LOCAL_MACHINE, Sub(kAlertsKey, L"control.BillCounterLimit\\email"), L"template"));
    EXPECT_EQ(L"control.BillCounterLimit", Text(HKEY_LOCAL_MACHINE, kConfigAlertEventsKey, L"BillCounterOverflow"));

    const std::wstring failure = Sub(kCounterLimitsKey, L"control.count.failure"), notify = Sub(kCounterLimitsKey, L"control.count.notify");
    for (const std::wstring& limit : {failure, notify}) {
        EXPECT_EQ(1500u, Int(HKEY_LOCAL_MACHINE, limit, L"max"));
        EXPECT_FALSE(Int(HKEY_LOCAL_MACHINE, limit, L"min"));
        EXPECT_EQ(L"Tallymark.BillCounter.Collect.All.All.Count", Text(HKEY_LOCAL_MACHINE, limit, L"prop"));
        EXPECT_EQ(L"Collect", Text(HKEY_LOCAL_MACHINE, limit, L"range"));
    }
    EXPECT_EQ(L"BillCounterOverflow", Text(HKEY_LOCAL_MACHINE, failure, L"reset failure"));
    EXPECT_EQ(L"(none)", Text(HKEY_LOCAL_MACHINE, failure, L"set alert"));
    EXPECT_EQ(L"control.BillCounterLimit", Text(HKEY_LOCAL_MACHINE, notify, L"set alert"));
    EXPECT_EQ(L"(none)", Text(HKEY_LOCAL_MACHINE, notify, L"reset failure"));

    EXPECT_EQ(9u, Int(HKEY_LOCAL_MACHINE, kOptionsKey, L"Collect Control Disabled"));
    EXPECT_EQ(2u, Int(HKEY_LOCAL_MACHINE, kOptionsKey, L"Collect Receipt Count"));
    EXPECT_EQ(1u, Int(HKEY_LOCAL_MACHINE, kOptionsKey, L"Collect Cancel Enabled"));
    EXPECT_FALSE(Int(HKEY_LOCAL_MACHINE, kOptionsKey, L"Collect On Stacker"));
    EXPECT_EQ(1u, Int(HKEY_LOCAL_MACHINE, kOptionsAlertEventsKey, L"NextDay"));
    EXPECT_EQ(0u, Int(HKEY_LOCAL_MACHINE, kOptionsAlertEventsKey, L"Payment"));
    DWORD templates = 0;
    RegQueryInfoKeyW(RegKey(HKEY_LOCAL_MACHINE, kPrintTemplatesKey, false, kRegReadAccess).Handle(), nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, &templates, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(14u, templates);
    EXPECT_EQ(L"Инкассация (чек).txt", Text(HKEY_LOCAL_MACHINE, kPrintTemplatesKey, L"collect.print"));
    EXPECT_EQ(L"Z-отчёт (отчёт).txt", Text(HKEY_LOCAL_MACHINE, kPrintTemplatesKey, L"zreport.report"));
}

TEST_F(Installation, SecondRunKeepsEverySettingAndRewritesTheRegistrations) {
    ASSERT_EQ(1, module_.InstallInit());
    const std::wstring stamp = Text(HKEY_LOCAL_MACHINE, Sub(kBillCountersKey, L"Terminal"), L"Reset Timestamp");
    Machine(kOptionsKey)[L"Collect Enabled"] = DWORD(0);
    Machine(kOptionsAlertEventsKey)[L"ZReport"] = DWORD(0);
    Machine(Sub(kAlertsKey, L"Collect").c_str())[L"Description"] = L"своё";
    Machine(Sub(kCounterLimitsKey, L"control.count.notify").c_str())[L"max"] = DWORD(10);
    Machine(kPrintTemplatesKey)[L"collect.print"] = L"мой чек.txt";
    Machine(kPluginKey)[L"LogPath"] = L"D:\\own *.log";
    RegKey(HKEY_CLASSES_ROOT, ClassKey(CLSID_ControlPlugin) + L"\\InProcServer32", true, kRegWriteAccess)[L""] = L"C:\\old.dll";
    Machine(kPluginKey)[L"CLSID"] = L"{00000000-0000-0000-0000-000000000000}";
    Machine(kHostURLKey)[L"collect"] = L"C:\\old.html";
    SetHost(L"Local HTML", L"D:\\Pages");
    clock_.Set(LocalTime(2026, 12, 9, 8, 0, 0));

    ASSERT_EQ(1, module_.InstallInit());
    EXPECT_EQ(0u, Int(HKEY_LOCAL_MACHINE, kOptionsKey, L"Collect Enabled"));
    EXPECT_EQ(0u, Int(HKEY_LOCAL_MACHINE, kOptionsAlertEventsKey, L"ZReport"));
    EXPECT_EQ(L"своё", Text(HKEY_LOCAL_MACHINE, Sub(kAlertsKey, L"Collect"), L"Description"));
    EXPECT_EQ(10u, Int(HKEY_LOCAL_MACHINE, Sub(kCounterLimitsKey, L"control.count.notify"), L"max"));
    EXPECT_EQ(L"мой чек.txt", Text(HKEY_LOCAL_MACHINE, kPrintTemplatesKey, L"collect.print"));
    EXPECT_EQ(L"D:\\own *.log", Text(HKEY_LOCAL_MACHINE, kPluginKey, L"LogPath"));
    EXPECT_EQ(stamp, Text(HKEY_LOCAL_MACHINE, Sub(kBillCountersKey, L"Terminal"), L"Reset Timestamp"));
    // Registrations and the page address follow the module and the host as they are now.
    EXPECT_EQ(ModuleFileNameW(module_.Handle()), Text(HKEY_CLASSES_ROOT, ClassKey(CLSID_ControlPlugin) + L"\\InProcServer32", L""));
    EXPECT_EQ(Host::ClassText(CLSID_Plugin), Text(HKEY_LOCAL_MACHINE, kPluginKey, L"CLSID"));
    EXPECT_EQ(L"D:\\Pages\\Tallymark\\collect.html", Text(HKEY_LOCAL_MACHINE, kHostURLKey, L"collect"));

    Machine(Sub(kBillCountersKey, L"Terminal").c_str())[L"Reset Timestamp"].Delete();
    ASSERT_EQ(1, module_.InstallInit());
    EXPECT_EQ(Format(clock_.Now().UTC(), 0), Text(HKEY_LOCAL_MACHINE, Sub(kBillCountersKey, L"Terminal"), L"Reset Timestamp"));
}

TEST_F(Installation, CompletesOnlyWhatIsMissingOrOfTheWrongType) {
    RegKey notify = Machine(Sub(kCounterLimitsKey, L"control.count.notify").c_str());
    notify[L"set alert"] = L"own.Alert";
    Machine(kOptionsKey)[L"Collect Receipt Count"] = L"5";  // text where a number belongs: no reader sees it
    Machine(kPluginKey)[L"LogPath"] = DWORD(7);
    Machine(kPrintTemplatesKey)[L"zreport.report"] = DWORD(1);

    ASSERT_EQ(1, module_.InstallInit());
    EXPECT_EQ(L"own.Alert", Text(HKEY_LOCAL_MACHINE, Sub(kCounterLimitsKey, L"control.count.notify"), L"set alert"));
    EXPECT_EQ(L"control.BillCounterLimit", Text(HKEY_LOCAL_MACHINE, Sub(kCounterLimitsKey, L"control.count.notify"), L"reset alert"));
    EXPECT_EQ(2u, Int(HKEY_LOCAL_MACHINE, kOptionsKey, L"Collect Receipt Count"));
    EXPECT_EQ(L"C:\\Terminal\\Logs\\Tallymark\\Tallymark *.txt", Text(HKEY_LOCAL_MACHINE, kPluginKey, L"LogPath"));
    EXPECT_EQ(L"Z-отчёт (отчёт).txt", Text(HKEY_LOCAL_MACHINE, kPrintTemplatesKey, L"zreport.report"));
}

TEST_F(Installation, HostFoldersCompleteToWholePaths) {
    SetEnvironmentVariableW(L"TALLY_TEST_PAGES", L"E:\\Web");
    struct Case {
        const wchar_t* root;
        const wchar_t* html;
        const wchar_t* logs;
        const wchar_t* page;
        const wchar_t* log;
    } cases[] = {
        // Empty values take the defaults below the root folder.
        {L"C:\\Terminal", L"", L"", L"C:\\Terminal\\html\\Tallymark\\collect.html", L"C:\\Terminal\\Logs\\Tallymark\\Tallymark *.txt"},
        // Relative values lie below the root folder, absolute ones stand alone, references expand.
        {L"C:\\Terminal\\", L"web\\pages", L"D:\\Logs", L"C:\\Terminal\\web\\pages\\Tallymark\\collect.html",
         L"D:\\Logs\\Tallymark\\Tallymark *.txt"},
        {L"C:\\Terminal", L"%TALLY_TEST_PAGES%", L"..\\Logs", L"E:\\Web\\Tallymark\\collect.html", L"C:\\Logs\\Tallymark\\Tallymark *.txt"},
    };
    for (const Case& c : cases) {
        SetHost(L"Root Path", c.root);
        SetHost(L"Local HTML", c.html);
        SetHost(L"Log Root", c.logs);
        Machine(kPluginKey)[L"LogPath"].Delete();
        ASSERT_EQ(1, module_.InstallInit()) << BoxText();
        EXPECT_EQ(c.page, Text(HKEY_LOCAL_MACHINE, kHostURLKey, L"collect"));
        EXPECT_EQ(c.log, Text(HKEY_LOCAL_MACHINE, kPluginKey, L"LogPath"));
    }
    SetEnvironmentVariableW(L"TALLY_TEST_PAGES", nullptr);
}

TEST_F(Installation, HostFolderThatMakesNoWholePathFailsBeforeAnythingIsWritten) {
    struct Case {
        const wchar_t* value;
        std::wstring text;
        const wchar_t* reason;
    } cases[] = {
        {L"Local HTML", L"%TALLY_NO_SUCH_VARIABLE%\\html", L"неизвестная переменная окружения %TALLY_NO_SUCH_VARIABLE%"},
        {L"Log Root", L"D:\\Logs|old", L"недопустимые символы в пути"},
        {L"Root Path", L"C:\\" + std::wstring(MAX_PATH, L'a'), L"путь длиннее 259 символов"},
    };
    for (const Case& c : cases) {
        SetHost(L"Root Path", L"C:\\Terminal");
        RegKey(HKEY_LOCAL_MACHINE, kHostKey, true, kRegWriteAccess)[L"Local HTML"].Delete();
        RegKey(HKEY_LOCAL_MACHINE, kHostKey, true, kRegWriteAccess)[L"Log Root"].Delete();
        SetHost(c.value, c.text);
        Host::Boxes::All().clear();
        EXPECT_EQ(0, module_.InstallInit()) << Narrow(c.value);
        ASSERT_EQ(1u, Host::Boxes::All().size());
        const Host::Box& box = Host::Boxes::All().back();
        EXPECT_EQ(GetFileName(ModuleFileNameW(nullptr)), box.caption);
        EXPECT_EQ(0u, box.text.find(L"Ошибка установки модуля \"" + ModuleFileNameW(module_.Handle()) + L"\": путь ")) << Narrow(box.text);
        EXPECT_NE(std::wstring::npos, box.text.find(c.reason)) << Narrow(box.text);
        ExpectNothingWritten();
    }
}

// The class key cannot be made: the plugin's own registry call is made to fail from outside.
std::wstring g_refusedPrefix;
decltype(&RegCreateKeyExW) g_realCreateKey = nullptr;

LSTATUS WINAPI RefusingCreateKey(HKEY parent, LPCWSTR subkey, DWORD reserved, LPWSTR cls, DWORD options, REGSAM access,
                                 const LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
    if (subkey && std::wstring(subkey).rfind(g_refusedPrefix, 0) == 0) return ERROR_ACCESS_DENIED;
    return g_realCreateKey(parent, subkey, reserved, cls, options, access, security, result, disposition);
}

TEST_F(Installation, ClassKeyThatCannotBeCreatedShowsTheBoxAndWritesNoConfiguration) {
    g_realCreateKey = reinterpret_cast<decltype(&RegCreateKeyExW)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegCreateKeyExW")));
    g_refusedPrefix = L"CLSID\\";
    ASSERT_GT(Host::PatchImport(module_.Handle(), "RegCreateKeyExW", reinterpret_cast<void*>(&RefusingCreateKey)), 0);
    const int answer = module_.InstallInit();
    Host::PatchImport(module_.Handle(), "RegCreateKeyExW", reinterpret_cast<void*>(g_realCreateKey));

    EXPECT_EQ(0, answer);
    ASSERT_EQ(1u, Host::Boxes::All().size());
    EXPECT_EQ(GetFileName(ModuleFileNameW(nullptr)), Host::Boxes::All()[0].caption);
    EXPECT_EQ(0u, BoxText().find(L"Ошибка установки модуля \"" + ModuleFileNameW(module_.Handle()) + L"\": Windows system call error 5"))
        << Narrow(BoxText());
    ExpectNothingWritten();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kControlPluginKey));
}

TEST(PluginFile, CarriesItsTypeLibraryAndVersionRecord) {
    const std::wstring dll = Host::DefaultPluginPath();
    ITypeLib* library = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx(dll.c_str(), REGKIND_NONE, &library));
    ITypeInfo* info = nullptr;
    EXPECT_EQ(S_OK, library->GetTypeInfoOfGuid(CLSID_Plugin, &info));
    if (info) info->Release();
    EXPECT_EQ(S_OK, library->GetTypeInfoOfGuid(CLSID_ControlPlugin, &info));
    if (info) info->Release();
    library->Release();

    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(dll.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(dll.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    const WORD numbers[] = {TALLYMARK_VERSION_NUMBERS};
    EXPECT_EQ(MAKELONG(numbers[1], numbers[0]), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(numbers[3], numbers[2]), fixed->dwFileVersionLS);
    EXPECT_EQ(DWORD(VFT_DLL), fixed->dwFileType);
    wchar_t* description = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\041904E3\\FileDescription",
                               reinterpret_cast<void**>(&description), &length));
    EXPECT_EQ(kDescription, std::wstring(description));
}

}  // namespace
