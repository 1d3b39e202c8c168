#include "PLLib/PLLib.h"
#include "Plugin/Settings/Config.h"
#include "PLLib/PLLog.h"
#include "PLLib/PluginPaths.h"
#include "Framework/Exceptions.h"
#include "Framework/Paths.h"
#include "Framework/Registry.h"
#include "Framework/Text.h"
#include "tests/RegistryFixture.h"
#include "tests/TestFiles.h"
#include "xdk/Source/Platform/FilePort.h"

TEST(LoadFile, DecodesUtf8WithSignatureAndAnsiWithout) {
    TempFolder folder;
    const std::wstring text = L"Чек №1\r\nИтого: 500 руб. ёЁ…";
    struct { const char* name; std::string bytes; std::wstring expected; } cases[] = {
        {"utf8.txt", "\xEF\xBB\xBF" + Narrow(text, CP_UTF8), text},
        {"ansi.txt", Narrow(text, 1251), text},
        {"empty.txt", "", L""},
        {"signature.txt", "\xEF\xBB\xBF", L""},
        {"short.txt", "\xEF\xBB", L"\x043F\x00BB"},  // two bytes are no signature: ANSI "п»"
        {"bad-utf8.txt", "\xEF\xBB\xBF" "a\xFF\xC3" "b", L"a\xFFFD\xFFFD" L"b"},
        {"zeros.txt", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
    };
    for (const auto& c : cases) {
        std::string path = folder.Path() + "\\" + c.name;
        WriteBytes(path, c.bytes);
        EXPECT_EQ(LoadFile(path), c.expected) << c.name;
    }
    EXPECT_THROW(LoadFile(folder.Path() + "\\missing.txt"), FileAccessException);
    try {
        LoadFile(folder.Path() + "\\missing.txt");
    } catch (const FileAccessException& e) {
        EXPECT_EQ(e.Reason(), "file open error:" + folder.Path() + "\\missing.txt");
    }
}

TEST(LoadFile, ReadsAFileThatAnotherProgramHoldsOpenForWriting) {
    TempFolder folder;
    std::string path = folder.Path() + "\\open.txt";
    WriteBytes(path, "abc");
    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(LoadFile(path), L"abc");
    CloseHandle(writer);
}

TEST(ShortenForLog, LongTextsAreCutWithTheirLength) {
    EXPECT_EQ(ShortenForLog("", 256), "");
    EXPECT_EQ(ShortenForLog("short", 256), "short");
    std::string text(300, 'x');
    text[0] = 'a';
    text[255] = 'b';
    EXPECT_EQ(ShortenForLog(text, 256), Narrow(L"[300 байт]") + "\r\na" + std::string(254, 'x') + "b\r\n...");
    EXPECT_EQ(ShortenForLog("abc", 3), Narrow(L"[3 байт]") + "\r\nabc\r\n...");
}

TEST(DatedLogPath, FirstStarBecomesTheDate) {
    SYSTEMTIME t{};
    t.wYear = 2017, t.wMonth = 3, t.wDay = 5, t.wHour = 23;
    RealTime day(t);
    EXPECT_EQ(DatedLogPath("C:\\Logs\\macro*.log", day), "C:\\Logs\\macro(2017-03-05).log");
    EXPECT_EQ(DatedLogPath("C:\\Logs\\a*b*.log", day), "C:\\Logs\\a(2017-03-05)b*.log");
    EXPECT_EQ(DatedLogPath("C:\\Logs\\plain.log", day), "C:\\Logs\\plain.log");
}

TEST(DatedLogPath, GlobalLogExpandsTheEnvironmentAndUsesToday) {
    SetEnvironmentVariableA("TALLY_LOG_DIR", "C:\\Temp\\x");
    PLLog log;
    log.SetPathTemplate(L"%TALLY_LOG_DIR%\\m*.log");
    EXPECT_EQ(log.GetLogPath(), DatedLogPath("C:\\Temp\\x\\m*.log", RealTime::Now()));
    log.SetPathTemplate(L"");
    EXPECT_EQ(log.GetLogPath(), "");
}

class HostPaths : public RegistryTest {
protected:
    RegKey Host() { return RegKey(HKEY_LOCAL_MACHINE, Plugin::kHostKey, true, kRegWriteAccess); }
    RegKey Templates() { return RegKey(HKEY_LOCAL_MACHINE, Plugin::kPrintTemplatesKey, true, kRegWriteAccess); }
};

TEST_F(HostPaths, FoldersFallBackToTheirDefaultsUnderTheRoot) {
    Host()[L"Root Path"] = L"C:\\Host";
    EXPECT_EQ(RootPath(), "C:\\Host\\");
    EXPECT_EQ(PrintTemplatesPath(), "C:\\Host\\PrintTemplates\\");
    EXPECT_EQ(LogRootPath(), "C:\\Host\\Logs\\");
    EXPECT_EQ(LocalHtmlPath(), "C:\\Host\\html\\");
    EXPECT_EQ(PluginTemplatePath(), "C:\\Host\\PrintTemplates\\Tallymark\\");
    EXPECT_EQ(PluginHtmlPath(), "C:\\Host\\html\\Tallymark\\");
    EXPECT_EQ(TemplateFilePath(L"receipt"), L"C:\\Host\\PrintTemplates\\Tallymark\\receipt.TXT");
    EXPECT_EQ(TemplateFilePath(L"mail.htm"), L"C:\\Host\\PrintTemplates\\Tallymark\\mail.htm");
}

TEST_F(HostPaths, ValuesOverrideDefaultsAndTheUserFolderWins) {
    SetEnvironmentVariableA("TALLY_DRIVE", "D:");
    Host()[L"Root Path"] = L"%TALLY_DRIVE%\\Host";
    Host()[L"PrintTemplates"] = L"Tpl";
    Host()[L"Log Root"] = L"E:\\Logs";
    Host()[L"Local HTML"] = L"web";
    EXPECT_EQ(PrintTemplatesPath(), "D:\\Host\\Tpl\\");
    EXPECT_EQ(LogRootPath(), "E:\\Logs\\");
    EXPECT_EQ(LocalHtmlPath(), "D:\\Host\\web\\");
    RegKey(HKEY_CURRENT_USER, Plugin::kHostUIKey, true, kRegWriteAccess)[L"PrintTemplateDir"] = L"F:\\Mine";
    EXPECT_EQ(PluginTemplatePath(), "F:\\Mine\\Tallymark\\");

    Templates()[L"receipt"] = L"chek.txt";
    Templates()[L"mail"] = L"G:\\mail.txt";
    EXPECT_EQ(TemplateFilePath(L"RECEIPT"), L"F:\\Mine\\Tallymark\\chek.txt");
    EXPECT_EQ(TemplateFilePath(L"mail"), L"G:\\mail.txt");
}

TEST_F(HostPaths, LoadTemplateNamesTheTemplateAndTheFile) {
    TempFolder folder;
    Host()[L"Root Path"] = Widen(folder.Path());
    CreatePath(folder.Path() + "\\PrintTemplates\\Tallymark");
    WriteBytes(folder.Path() + "\\PrintTemplates\\Tallymark\\receipt.TXT", Narrow(L"Чек"));
    EXPECT_EQ(LoadTemplate(L"receipt"), L"Чек");
    try {
        LoadTemplate(L"absent");
        FAIL();
    } catch (const VMAppException& e) {
        EXPECT_EQ(e.ReasonW(), L"Не удалось загрузить шаблон \"absent\" (файл \"" + Widen(folder.Path()) +
                                   L"\\PrintTemplates\\Tallymark\\absent.TXT\")");
    }
}

TEST_F(HostPaths, HelpPathIsFoundBesideTheModuleThenInTheRoot) {
    TempFolder folder;
    Host()[L"Root Path"] = Widen(folder.Path());
    const std::string exeFolder = GetParentPath(ModuleFileName(nullptr));
    EXPECT_EQ(PluginHelpFilePath(nullptr), exeFolder + "\\Tallymark.chm");
    EXPECT_EQ(ResolveHelpPath(nullptr, "nohelp.chm", "page.htm", "main"), "nohelp.chm::page.htm>main");
    WriteBytes(folder.Path() + "\\inroot.chm", "x");
    EXPECT_EQ(ResolveHelpPath(nullptr, "inroot.chm"), folder.Path() + "\\inroot.chm");
    EXPECT_EQ(ResolveHelpPath(nullptr, "C:\\abs.chm", "t"), "C:\\abs.chm::t");
}

TEST(SaveFile, ReplacesTheWholeContent) {
    TempFolder folder;
    std::string path = folder.Path() + "\\report.txt";
    WriteBytes(path, "a much longer old content");
    FilePort port(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(port.IsOpen());
    EXPECT_TRUE(SaveFile(port, "new"));
    EXPECT_TRUE(SaveFile(port, "newer"));
    port.Close();
    EXPECT_EQ(ReadBytes(path), "newer");
    FilePort readOnly(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_THROW(SaveFile(readOnly, "x"), WindowsError);
}
