// The terminal side over the simulated host, as the component tests drive it: a terminal
// extender handed to the host's collection, a log in a scratch folder, captured boxes.
#pragma once
#include "Plugin/CashSessionEvents.h"
#include "Plugin/Extenders.h"
#include "Plugin/SessionExtender.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Plugin.h"
#include "Plugin/TerminalExtender.h"
#include "Plugin/Terminal/TerminalSide.h"
#include "Framework/Paths.h"
#include "Framework/Registry.h"
#include "Host/HostObjects.h"
#include "Host/PluginHost.h"
#include "Framework/Exceptions.h"
#include "tests/RegistryFixture.h"
#include "tests/TestFiles.h"
#include <gtest/gtest.h>

using namespace Plugin;

namespace {

// Message boxes of this program are captured by redirecting its import of MessageBoxW.
std::vector<std::wstring> g_boxes, g_captions;
int WINAPI CaptureBox(HWND, LPCWSTR text, LPCWSTR caption, UINT) {
    g_boxes.push_back(text ? text : L"");
    g_captions.push_back(caption ? caption : L"");
    return IDOK;
}

class ExtenderTest : public RegistryTest {
protected:
    ExtenderTest() {
        static const int patched = Host::PatchImport(GetModuleHandleW(nullptr), "MessageBoxW", reinterpret_cast<void*>(&CaptureBox));
        EXPECT_GT(patched, 0);
        g_boxes.clear();
        g_captions.clear();
        OleInitialize(nullptr);
        RegKey plugin(HKEY_LOCAL_MACHINE, kPluginKey, true, kRegWriteAccess);
        plugin[L"LogPath"] = Widen(folder_.Path() + "\\Tallymark *.txt");
        // A terminal that already ran today: no day change is due.
        RegKey(HKEY_CURRENT_USER, kPluginKey, true, kRegWriteAccess)[L"Today"] = Format(RealTime::Now().Date(), 0);
    }
    ~ExtenderTest() override {
        extender_.Reset();
        host_.reset();
        OleUninitialize();
    }
    // Makes the terminal side and its extender and hands the extender to the host's collection, as
    // attach does. The extender owns the side; the side answers what the test asks of its parts.
    TerminalSide* Start() {
        auto side = std::make_shared<TerminalSide>(host_->Object());
        auto* extender = new TerminalExtender(side);
        extender_ = co<IPaylantraTerminalExtender2>::Attach(extender);
        host_->Extenders().Add(extender);
        return side.get();
    }
    // A payment as the host runs it: the close event comes before the session lets go of its sinks.
    void Pay(std::initializer_list<std::pair<long, const wchar_t*>> notes) {
        Host::CashSession& session = host_->BeginCashSession();
        for (const auto& [denomination, currency] : notes) session.Accept(denomination, currency);
        host_->DeliverEvent(L"Tallymark.OnCashClose");
        host_->EndCashSession(false);
    }
    void Stop() {
        host_->ReleaseExtenders();
        extender_.Reset();
    }
    std::string LogFile(RealTime day = RealTime::Now()) const {
        SYSTEMTIME st = day.ToSystemTime();
        return folder_.Path() + FormatBuffer(64, "\\Tallymark (%04u-%02u-%02u).txt", st.wYear, st.wMonth, st.wDay);
    }
    // "code<TAB>;description" of every record, as UTF-8.
    std::vector<std::string> Records(RealTime day = RealTime::Now()) const {
        std::vector<std::string> records;
        for (const std::string& line : ReadLines(LogFile(day))) {
            std::string record = line.substr(line.find('\t') + 1);
            records.push_back(Narrow(Widen(record.substr(record.find('\t') + 1)), CP_UTF8));
        }
        return records;
    }
    static DWORD Count(const wchar_t* counter, const wchar_t* currency, const wchar_t* denomination) {
        RegKey key(HKEY_LOCAL_MACHINE, std::wstring(kBillCountersKey) + L"\\" + counter + L"\\" + currency, false, kRegReadAccess);
        return key[denomination].Int().value_or(0);
    }
    static std::optional<DWORD> UserValue(const wchar_t* name) {
        return RegKey(HKEY_CURRENT_USER, kPluginKey, false, kRegReadAccess)[name].Int();
    }

    TempFolder folder_;
    std::unique_ptr<Host::Terminal> host_ = std::make_unique<Host::Terminal>();
    co<IPaylantraTerminalExtender2> extender_;
};

// The terminal side with the session extender beside it, which renders templates for print
// requests and mails; templates live in a scratch folder.
class SessionTest : public ExtenderTest {
protected:
    SessionTest() {
        terminal_ = Start();
        session_ = co<IPaylantraSessionExtender2>::Attach(new SessionExtender(host_->Object(), terminal_->weak_from_this()));
        host_->Environment().AddExtender(session_.Get());
        RegKey(HKEY_CURRENT_USER, kHostUIKey, true, kRegWriteAccess)[L"PrintTemplateDir"] = Widen(folder_.Path());
    }
    ~SessionTest() override { session_.Reset(); }

    SessionExtender& Session() { return *static_cast<SessionExtender*>(session_.Get()); }
    // A template file in the plugin's template folder, UTF-8 with the signature.
    void Template(const std::string& file, const std::wstring& text) {
        std::string folder = folder_.Path() + "\\Tallymark";
        CreatePath(folder);
        WriteBytes(folder + "\\" + file, "\xEF\xBB\xBF" + Narrow(text, CP_UTF8));
    }
    // A template known by name through the print-template mapping.
    void MappedTemplate(const std::wstring& name, const std::string& file, const std::wstring& text) {
        Template(file, text);
        RegKey(HKEY_LOCAL_MACHINE, kPrintTemplatesKey, true, kRegWriteAccess)[name] = Widen(folder_.Path() + "\\Tallymark\\" + file);
    }
    std::wstring Env(const wchar_t* name) { return host_->Environment().Property(name); }
    void SetEnv(const char* name, const std::wstring& value) { host_->Environment().PutProperty(Widen(name), value); }
    static void Alert(const std::wstring& name, std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> email,
                      bool withEmail = true) {
        RegKey alert(HKEY_LOCAL_MACHINE, std::wstring(kAlertsKey) + L"\\" + name, true, kRegWriteAccess);
        if (!withEmail) return;
        RegKey mail(alert.Handle(), L"email", true, kRegWriteAccess);
        for (const auto& [value, text] : email) mail[value] = text;
    }

    TerminalSide* terminal_ = nullptr;
    co<IPaylantraSessionExtender2> session_;
};

}  // namespace
