#include "AppLog/AppLog.h"
#include "Framework/Com.h"
#include "Framework/Exceptions.h"
#include "Framework/ListView.h"
#include "Framework/Numbers.h"
#include "Framework/Paths.h"
#include "Framework/RealTime.h"
#include "Framework/Registry.h"
#include "Framework/Text.h"
#include <type_traits>
#include "tests/RegistryFixture.h"
#include "tests/TestFiles.h"
#include <cmath>
#include <thread>
#include <vector>

TEST(Text, AnsiCodePageIs1251) { EXPECT_EQ(GetACP(), 1251u); }

TEST(Text, FormatBufferCutsAtItsSizeAndNeverOverflows) {
    EXPECT_EQ(FormatBuffer(256, "%u\t%s", 5u, "CASH.INIT"), "5\tCASH.INIT");
    EXPECT_EQ(FormatBuffer(4, "%s", "abcdef"), "abc");
    EXPECT_EQ(FormatBuffer(1, "%s", "abc"), "");
    EXPECT_EQ(FormatBuffer(0, "%s", "abc"), "");
    std::string huge(10000, 'x');
    EXPECT_EQ(FormatBuffer(256, "%s!", huge.c_str()).size(), 255u);
    EXPECT_EQ(FormatBufferW(4, L"%ls", L"abcdef"), L"abc");
}

TEST(Text, CardinalFormFollowsRussianPlurals) {
    const std::wstring one = L"купюра", few = L"купюры", many = L"купюр";
    struct { unsigned long long n; const std::wstring* form; } cases[] = {
        {0, &many}, {1, &one}, {2, &few}, {4, &few}, {5, &many}, {11, &many}, {12, &many}, {14, &many},
        {21, &one}, {22, &few}, {25, &many}, {101, &one}, {111, &many}, {112, &many}, {1001, &one}};
    for (auto& c : cases) EXPECT_EQ(CardinalForm(c.n, one, few, many), *c.form) << c.n;
}

TEST(Text, TrimTakesOnlyCrLfTabAndBlank) {
    EXPECT_EQ(trim(std::wstring(L" \r\n\tабв \t")), L"абв");
    EXPECT_EQ(rtrim(std::wstring(L"  a  ")), L"  a");
    EXPECT_EQ(trim(std::wstring(L"\u00A0a\u200A")), L"\u00A0a\u200A");  // other spaces stay
    EXPECT_EQ(trim(std::string("\xA0 x \n")), "\xA0 x");
    EXPECT_EQ(trim(std::wstring(L"   ")), L"");
}

TEST(Text, ReplaceEntriesDoesOnePassAndPrefersTheLongestKey) {
    std::map<std::wstring, std::wstring> entries{{L"[*]", L"RUB"}, {L"(*)", L"руб."}, {L"a", L"aa"}, {L"ab", L"X"}};
    EXPECT_EQ(ReplaceEntries(L"[*] (*) ab a", entries), L"RUB руб. X aa");
    EXPECT_EQ(ReplaceEntries(L"", entries), L"");
}

TEST(Text, KeystringComparesWithoutCase) {
    std::map<keystringW, int> m{{L"Collect", 1}};
    EXPECT_EQ(m.count(L"COLLECT"), 1u);
    EXPECT_TRUE(keystringW(L"привет") == keystringW(L"ПРИВЕТ"));
    // No comparison with a plain string can be the case-sensitive one.
    static_assert(!std::is_convertible_v<keystringW, std::wstring>);
    static_assert(!std::is_base_of_v<std::wstring, keystringW>);
    EXPECT_TRUE(keystringW(L"Printer") == std::wstring(L"printer"));
    EXPECT_TRUE(std::wstring(L"printer") == keystringW(L"Printer"));
    EXPECT_FALSE(keystringW(L"Printer") != L"PRINTER");
    // The whole string counts, past a zero too.
    const std::wstring zero(L"a\0b", 3);
    EXPECT_FALSE(keystringW(L"a") == zero);
    EXPECT_TRUE(keystringW(zero) == std::wstring(L"A\0B", 3));
    std::map<keystringW, int> names{{L"a", 1}, {zero, 2}, {std::wstring(L"a\0", 2), 3}};
    EXPECT_EQ(names.size(), 3u);
    EXPECT_TRUE(keystringW(L"a") < zero);
    EXPECT_TRUE(keystringW(std::wstring(L"a\0", 2)) < zero);
}

TEST(Exceptions, WindowsErrorMessageNamesCodeFileAndLine) {
    WindowsError e(5, "Plugin/TerminalExtender", 42);
    EXPECT_EQ(e.Reason(), "Windows system call error 5 (00000005) at \"Plugin/TerminalExtender\":42");
    EXPECT_EQ(e.Code(), 5u);
}

TEST(Exceptions, RussianReasonsAreAnsi) {
    VMAppException e(std::wstring(L"Нет активного сеанса"));
    EXPECT_EQ(e.Reason(), "\xcd\xe5\xf2 \xe0\xea\xf2\xe8\xe2\xed\xee\xe3\xee \xf1\xe5\xe0\xed\xf1\xe0");
    EXPECT_EQ(e.ReasonW(), L"Нет активного сеанса");
}

TEST(Com, CoCallExRaisesCoErrorWithThePosition) {
    EXPECT_NO_THROW(CoCallEx(S_FALSE, nullptr, "x", 1));
    try {
        CoCallEx(E_NOINTERFACE, nullptr, "AppFrame/Include/co", 114);
        FAIL();
    } catch (const CoError& e) {
        EXPECT_EQ(e.Code(), E_NOINTERFACE);
        EXPECT_EQ(e.File(), "AppFrame/Include/co");
        EXPECT_EQ(e.Line(), 114);
    }
}

TEST(Com, VariantConverts) {
    EXPECT_EQ(Variant(100L).ToString().Str(), L"100");
    EXPECT_EQ(Variant(L"5000").ToLong(), 5000);
    EXPECT_EQ(Variant(L"RUB").ToString().StrA(), "RUB");
    EXPECT_EQ(Variant().ToString().Str(), L"");
    EXPECT_EQ(Variant(L"abc").ToDispatch(), nullptr);
    EXPECT_THROW(Variant(L"abc").ToLong(), CoError);
    CoString ansi("\xEF\xF0\xE8", 3);
    EXPECT_EQ(ansi.Str(), L"при");
}

TEST(RealTime, NeverTestsFalseAndFormatsEmpty) {
    EXPECT_FALSE(RealTime::Never);
    EXPECT_EQ(Format(RealTime::Never, 0), L"");
    EXPECT_FALSE(RealTime::Never.UTC());
    EXPECT_TRUE(RealTime::Now());
}

static RealTime At(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
    SYSTEMTIME st{};
    st.wYear = y, st.wMonth = mo, st.wDay = d, st.wHour = h, st.wMinute = mi, st.wSecond = s, st.wMilliseconds = ms;
    return RealTime(st);
}

TEST(RealTime, MachineTextRoundTripsToTheTick) {
    RealTime t = At(2026, 12, 8, 23, 59, 58, 123) + 4567;
    EXPECT_EQ(Format(t, 0), L"2026-12-08 23:59:58.1234567");
    RealTime back;
    ASSERT_TRUE(ScanDateTime(Format(t, 0), 0, back));
    EXPECT_EQ(back, t);
    ASSERT_TRUE(ScanDateTime(std::string("2024-05-17 08:00:00"), 0, back));
    EXPECT_EQ(back, At(2024, 5, 17, 8));
    for (const char* bad : {"", "2024-05-17", "2024-13-01 00:00:00", "2024-02-30 00:00:00", "2024-05-17 24:00:00",
                            "2024-05-17 08:00:00x", "garbage"})
        EXPECT_FALSE(ScanDateTime(std::string(bad), 0, back)) << bad;
}

TEST(RealTime, DisplayFormsAreRussian) {
    RealTime t = At(2026, 12, 8, 9, 5, 7);
    EXPECT_EQ(Format(t, 1, true, false), L"8 декабря 2026 г.");
    EXPECT_EQ(Format(t, 1, false, true, false), L"09:05");
    EXPECT_EQ(Format(t, 2, true, false), L"08.12.2026");
    EXPECT_EQ(Format(t, 2, false, true, true), L"09:05:07");
    EXPECT_EQ(FormatDateTime(t, 2), L"08.12.2026 09:05:07");
    RealTime back;
    ASSERT_TRUE(ScanDateTime(FormatDateTime(t, 2), 2, back));
    EXPECT_EQ(back, t);
    ASSERT_TRUE(ScanDateTime(FormatDateTime(t, 1), 1, back));
    EXPECT_EQ(back, t);
    ASSERT_TRUE(ScanDateTime(std::wstring(L"08.12.2026"), 2, back));
    EXPECT_EQ(back, t.Date());
}

TEST(RealTime, DateArithmeticAndOleDates) {
    RealTime t = At(2024, 3, 1, 0, 0, 5);
    EXPECT_EQ(t.Date(), At(2024, 3, 1));
    EXPECT_EQ((t - RealTime::kTicksPerDay).Date(), At(2024, 2, 29));
    EXPECT_EQ(t - At(2024, 3, 1), 5 * RealTime::kTicksPerSecond);
    EXPECT_NE(t, t.Date());
    EXPECT_EQ(RealTime::FromOleDate(0), At(1899, 12, 30));
    EXPECT_EQ(RealTime::FromOleDate(2.25), At(1900, 1, 1, 6));
    EXPECT_EQ(RealTime::FromOleDate(-1.25), At(1899, 12, 29, 6));
    EXPECT_DOUBLE_EQ(At(1900, 1, 1, 6).ToOleDate(), 2.25);
    RealTime local = At(2026, 7, 1, 12, 0, 0, 5) + 3;
    EXPECT_EQ(local.UTC().Local(), local);
}

TEST(RealTime, TimesOutsideTheCalendarFormatEmptyAndNeverCrash) {
    RealTime before1601 = RealTime::Never - 1;
    for (int kind : {0, 1, 2}) EXPECT_EQ(Format(before1601, kind), L"") << kind;
    EXPECT_FALSE(RealTime::FromOleDate(-200000));
    EXPECT_FALSE(RealTime::FromOleDate(std::nan("")));
    EXPECT_FALSE(RealTime::FromOleDate(1e300));
    RealTime first;
    ASSERT_TRUE(ScanDateTime(std::string("1601-01-01 00:00:00.0000001"), 0, first));
    EXPECT_EQ(first.GetTicks(), 1);
}

TEST(Numbers, FormatsReadWhatTheyPromise) {
    struct { const char* text; int format; bool ok; double value; } cases[] = {
        {"12", 0, true, 12}, {"-12.5", 0, true, -12.5}, {"+.5", 0, true, 0.5}, {" 7 ", 0, true, 7},
        {"12,5", 0, false, 0}, {"12,5", 2, true, 12.5}, {"12.5", 2, false, 0}, {"", 0, false, 0},
        {"-", 0, false, 0}, {".", 0, false, 0}, {"1e5", 0, false, 0}, {"12a", 0, false, 0}, {"0x10", 0, false, 0},
        {"1.2.3", 0, false, 0}, {"5", 7, false, 0}};
    for (auto& c : cases) {
        double value = 0;
        EXPECT_EQ(ScanNumberEx(c.text, value, c.format), c.ok) << c.text << " / " << c.format;
        if (c.ok) {
            EXPECT_DOUBLE_EQ(value, c.value) << c.text;
        }
    }
    long long n = 0;
    EXPECT_TRUE(ScanNumberEx(std::string("-42"), n, 0));
    EXPECT_EQ(n, -42);
    EXPECT_FALSE(ScanNumberEx(std::string("4.2"), n, 0));
    EXPECT_FALSE(ScanNumberEx(std::string("99999999999999999999"), n, 0));
    double any = 0;
    EXPECT_TRUE(ScanNumberAny("3,25", any, {0, 2}));
    EXPECT_DOUBLE_EQ(any, 3.25);
    EXPECT_FALSE(ScanNumberAny("3,25", any, {0}));
}

TEST(Numbers, LocaleGroupingBecomesTheNumberFormatsGrouping) {
    EXPECT_EQ(GroupingFromLocale("3;0"), 3u);
    EXPECT_EQ(GroupingFromLocale("3;2;0"), 32u);
    EXPECT_EQ(GroupingFromLocale("3"), 30u);
    EXPECT_EQ(GroupingFromLocale("0;0"), 0u);
    EXPECT_EQ(GroupingFromLocale(""), 0u);
}

TEST(Numbers, UserLocaleFormatAcceptsItsOwnLayout) {
    LocaleNumberFormat format;
    format.Get().NumDigits = 2;
    char out[64];
    ASSERT_GT(GetNumberFormatA(LocaleLCID(), 0, "-1234567.5", &format.Get(), out, sizeof out), 0);
    double value = 0;
    ASSERT_TRUE(ScanNumberEx(std::string(out), value, 1)) << out;
    EXPECT_DOUBLE_EQ(value, -1234567.5);
    LocaleNumberFormat copy = format;
    copy.SetDecimalSep(".");
    EXPECT_STREQ(copy->lpDecimalSep, ".");
    EXPECT_NE(copy->lpDecimalSep, format->lpDecimalSep);  // the copy owns its buffers
}

TEST(Paths, ExpEnvKeepsUndefinedReferences) {
    SetEnvironmentVariableW(L"TALLY_T", L"C:\\Logs");
    EXPECT_EQ(ExpEnv(std::string("%TALLY_T%\\Tallymark *.txt")), "C:\\Logs\\Tallymark *.txt");
    EXPECT_EQ(ExpEnv(std::string("%NO_SUCH_VAR_X%\\a")), "%NO_SUCH_VAR_X%\\a");
    EXPECT_EQ(ExpEnv(std::string("100% %TALLY_T%")), "100% C:\\Logs");  // "% " is no reference
    EXPECT_EQ(ExpEnv(std::string("%NO_SUCH%TALLY_T%")), "%NO_SUCHC:\\Logs");
    EXPECT_EQ(ExpEnv(std::string("50%")), "50%");
    EXPECT_EQ(ExpEnv(std::wstring(L"%TALLY_T%")), L"C:\\Logs");
}

TEST(Paths, NamesExtensionsAndFolders) {
    EXPECT_TRUE(IsAbsolutePath(std::string("C:\\x")));
    EXPECT_TRUE(IsAbsolutePath(std::string("\\\\server\\share")));
    EXPECT_FALSE(IsAbsolutePath(std::string("C:x")));
    EXPECT_FALSE(IsAbsolutePath(std::string("html")));
    EXPECT_EQ(AddDefaultExt(std::string("receipt"), ".TXT"), "receipt.TXT");
    EXPECT_EQ(AddDefaultExt(std::string("a.b\\receipt"), ".TXT"), "a.b\\receipt.TXT");
    EXPECT_EQ(AddDefaultExt(std::string("receipt.txt"), ".TXT"), "receipt.txt");
    EXPECT_EQ(SetDefaultExt(std::string("collect"), ".html"), "collect.html");
    EXPECT_EQ(SetDefaultExt(std::string("c:\\x.y\\collect.htm"), ".html"), "c:\\x.y\\collect.html");
    EXPECT_EQ(GetParentPath(std::string("C:\\a\\b.txt")), "C:\\a");
    EXPECT_EQ(GetFileName(std::string("C:\\a\\b.txt")), "b.txt");
    EXPECT_EQ(GetFileName(std::string("b.txt")), "b.txt");
    EXPECT_EQ(MakePathSpec(std::string("C:\\a")), "C:\\a\\");
    EXPECT_EQ(MakePathSpec(std::string("C:\\a\\")), "C:\\a\\");
    EXPECT_EQ(MakePathSpec(std::string("")), "");
}

TEST(Paths, CreatePathMakesEveryFolder) {
    TempFolder temp;
    std::string deep = temp.Path() + "\\a\\b\\c";
    EXPECT_TRUE(CreatePath(deep));
    EXPECT_TRUE(CreatePath(deep + "\\"));
    EXPECT_FALSE(FileExists(deep));  // a folder is not a file
    std::string file = temp.Path() + "\\f.txt";
    WriteBytes(file, "x");
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(CreatePath(file + "\\sub"));  // below a file
}

// A list that asks for its rows shows what a list holding them shows, cell by cell and in its
// columns' widths; typing finds a row, and new rows drop the selection.
TEST(ListRows, ShowWhatAListHoldingTheRowsShows) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 400, 200, nullptr, nullptr, nullptr, nullptr);
    auto list = [parent](DWORD style) {
        return CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | style, 0, 0,
                               300, 80, parent, nullptr, nullptr, nullptr);
    };
    HWND holding = list(0), asking = list(LVS_OWNERDATA);
    const std::vector<std::wstring> titles = {L"Номинал", L"Кол-во", L"Сумма"};
    std::vector<ListRows::Row> rows;
    for (int d : {10, 50, 100, 500, 1000, 5000, 100000})
        rows.push_back({L"RUB\u00A0" + std::to_wstring(d), std::to_wstring(d % 7), std::to_wstring(d * (d % 7))});
    rows.push_back({L"USD\u00A020", L"3", L"60"});
    ListView held(holding);
    for (const std::wstring& title : titles) held.AddColumn(title);
    for (int row = 0; row < int(rows.size()); ++row)
        for (int column = 0; column < 3; ++column) {
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = row;
            item.iSubItem = column;
            item.pszText = rows[size_t(row)][size_t(column)].data();
            SendMessageW(holding, column ? LVM_SETITEMTEXTW : LVM_INSERTITEMW, WPARAM(row), reinterpret_cast<LPARAM>(&item));
        }
    ListRows asked(asking, titles);
    asked.Show(rows);
    held.AutoWidth(true);
    asked.AutoWidth(true);
    ASSERT_EQ(asked.View().RowCount(), int(rows.size()));
    for (int column = 0; column < 3; ++column) {
        EXPECT_EQ(SendMessageW(asking, LVM_GETCOLUMNWIDTH, column, 0), SendMessageW(holding, LVM_GETCOLUMNWIDTH, column, 0))
            << "column " << column;
        for (int row = 0; row < int(rows.size()); ++row) EXPECT_EQ(asked.View().Cell(row, column), held.Cell(row, column));
    }
    SendMessageW(asking, WM_CHAR, L'u', 1);
    EXPECT_EQ(SendMessageW(asking, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED), LRESULT(rows.size() - 1));
    asked.Show(rows);
    EXPECT_EQ(SendMessageW(asking, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED), -1);
    DestroyWindow(parent);
}

TEST_F(RegistryTest, ValuesOfTheWrongTypeAreNotReadable) {
    RegKey key(HKEY_LOCAL_MACHINE, L"Software\\Probe", true, kRegWriteAccess);
    ASSERT_TRUE(key.IsOpen());
    key[L"n"] = DWORD(7);
    key[L"s"] = L"текст";
    EXPECT_EQ(key[L"n"].Int(), 7u);
    EXPECT_FALSE(key[L"n"].Text());
    EXPECT_EQ(key[L"s"].Text(), L"текст");
    EXPECT_FALSE(key[L"s"].Int());
    EXPECT_THROW(key[L"s"].GetInt(), VelmorException);
    EXPECT_FALSE(key[L"missing"].Valid());
    EXPECT_FALSE(key[L"missing"].Int());
    // A two-byte "DWORD", a QWORD and binary data are no integers.
    WORD small = 3;
    RegSetValueExW(key.Handle(), L"w", 0, REG_DWORD, reinterpret_cast<BYTE*>(&small), 2);
    ULONGLONG big = 5;
    RegSetValueExW(key.Handle(), L"q", 0, REG_QWORD, reinterpret_cast<BYTE*>(&big), 8);
    EXPECT_FALSE(key[L"w"].Int());
    EXPECT_FALSE(key[L"q"].Int());
    EXPECT_TRUE(key[L"q"].Valid());
    // A text stored without its terminating zero, and one with an odd byte count.
    const wchar_t raw[] = L"abc";
    RegSetValueExW(key.Handle(), L"nz", 0, REG_SZ, reinterpret_cast<const BYTE*>(raw), 6);
    EXPECT_EQ(key[L"nz"].Text(), L"abc");
    RegSetValueExW(key.Handle(), L"odd", 0, REG_SZ, reinterpret_cast<const BYTE*>(raw), 5);
    EXPECT_EQ(key[L"odd"].Text(), L"ab");
    key[L"n"].Delete();
    EXPECT_FALSE(key[L"n"].Valid());
    EXPECT_NO_THROW(key[L"n"].Delete());
}

TEST_F(RegistryTest, SubkeysEnumerateAndDeleteWithEverythingBelow) {
    RegKey root(HKEY_LOCAL_MACHINE, L"Software\\Probe", true, kRegWriteAccess);
    RegKey(root.Handle(), L"RUB\\deep", true, kRegWriteAccess)[L"100"] = DWORD(1);
    RegKey(root.Handle(), L"USD", true, kRegWriteAccess);
    EXPECT_EQ(root.SubkeyCount(), 2u);
    EXPECT_EQ(root.SubkeyName(0), L"RUB");
    EXPECT_EQ(root.SubkeyName(5), L"");
    root.DeleteSubkey(L"RUB");
    EXPECT_EQ(root.SubkeyCount(), 1u);
    EXPECT_NO_THROW(root.DeleteSubkey(L"RUB"));
    RegKey reader(HKEY_LOCAL_MACHINE, L"Software\\Probe", false, kRegReadAccess);
    EXPECT_THROW(reader[L"x"] = DWORD(1), WindowsError);  // read access only
}

// A key that cannot be listed must not read as one without subkeys: a counter would lose a currency.
TEST_F(RegistryTest, SubkeysOfAKeyThatCannotBeListedRaise) {
    RegKey(HKEY_LOCAL_MACHINE, L"Software\\Probe\\Counter\\RUB", true, kRegWriteAccess);
    RegKey stale(HKEY_LOCAL_MACHINE, L"Software\\Probe\\Counter", false, kRegReadAccess);
    ASSERT_TRUE(stale.IsOpen());
    RegKey(HKEY_LOCAL_MACHINE, L"Software\\Probe", false, kRegWriteAccess).DeleteSubkey(L"Counter");
    EXPECT_THROW(stale.SubkeyCount(), WindowsError);
    EXPECT_THROW(stale.SubkeyName(0), WindowsError);
}

TEST_F(RegistryTest, AMissingKeyGivesAnEmptyHolder) {
    RegKey key(HKEY_LOCAL_MACHINE, L"Software\\Nothing\\Here", false, kRegReadAccess);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(key.LastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(key[L"x"].Valid());
    EXPECT_FALSE(key[L"x"].Text());
    EXPECT_EQ(key.SubkeyCount(), 0u);
    EXPECT_THROW(key[L"x"] = DWORD(1), WindowsError);
    RegKey none(nullptr, L"x", true, kRegWriteAccess);
    EXPECT_FALSE(none.IsOpen());
}

// A read that failed must never pass for a missing value: a count would start again from 0.
TEST_F(RegistryTest, FailedReadsAreToldApartFromMissingValues) {
    RegKey key(HKEY_LOCAL_MACHINE, L"Software\\Probe", true, kRegWriteAccess);
    key[L"n"] = DWORD(7);
    key[L"s"] = L"текст";
    DWORD number = 42;
    std::wstring text = L"kept";
    EXPECT_EQ(key[L"missing"].Read(number), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key[L"s"].Read(number), ERROR_FILE_NOT_FOUND);  // of another type: missing
    EXPECT_EQ(number, 42u);
    EXPECT_EQ(key[L"missing"].IntOr(5, "here", 1), 5u);
    EXPECT_EQ(key[L"n"].IntOr(5, "here", 1), 7u);
    EXPECT_EQ(key[L"missing"].TextOr(L"d", "here", 1), L"d");

    // A handle without query access: the read fails, the out value stays.
    RegKey writeOnly(HKEY_LOCAL_MACHINE, L"Software\\Probe", false, KEY_SET_VALUE);
    ASSERT_TRUE(writeOnly.IsOpen());
    EXPECT_EQ(writeOnly[L"n"].Read(number), ERROR_ACCESS_DENIED);
    EXPECT_EQ(writeOnly[L"s"].Read(text), ERROR_ACCESS_DENIED);
    EXPECT_EQ(number, 42u);
    EXPECT_EQ(text, L"kept");
    EXPECT_FALSE(writeOnly[L"n"].Int());
    try {
        (void)writeOnly[L"n"].IntOr(0, "Plugin/Probe", 77);
        ADD_FAILURE() << "a denied read gave a value";
    } catch (const WindowsError& error) {
        EXPECT_EQ(error.Code(), DWORD(ERROR_ACCESS_DENIED));
        EXPECT_NE(error.Reason().find("\"Plugin/Probe\":77"), std::string::npos) << error.Reason();
    }
    EXPECT_THROW((void)writeOnly[L"n"].GetInt(), WindowsError);

    // The key deleted underneath through a second handle.
    RegKey doomed(HKEY_LOCAL_MACHINE, L"Software\\Probe\\Doomed", true, kRegWriteAccess);
    doomed[L"n"] = DWORD(3);
    key.DeleteSubkey(L"Doomed");
    LONG deleted = doomed[L"n"].Read(number);
    EXPECT_NE(deleted, ERROR_SUCCESS);
    EXPECT_NE(deleted, ERROR_FILE_NOT_FOUND);
    EXPECT_THROW((void)doomed[L"n"].TextOr(L"", "here", 1), WindowsError);

    // A key that exists but cannot be opened is no missing key either.
    {
        DeniedKey denied(HKEY_LOCAL_MACHINE, L"Software\\Probe\\Denied");
        RegKey closed(HKEY_LOCAL_MACHINE, L"Software\\Probe\\Denied", false, kRegReadAccess);
        EXPECT_FALSE(closed.IsOpen());
        EXPECT_FALSE(closed.IsMissing());
        EXPECT_THROW((void)closed[L"n"].IntOr(0, "here", 1), WindowsError);
    }
    RegKey absent(HKEY_LOCAL_MACHINE, L"Software\\Probe\\Absent", false, kRegReadAccess);
    EXPECT_TRUE(absent.IsMissing());
    EXPECT_EQ(absent[L"n"].IntOr(9, "here", 1), 9u);
}

// The scratch registry sweeps what runs that died left behind, and only that.
TEST(ScratchRegistry, SweepsKeysOfRunsThatAreGone) {
    FILETIME created{}, unused{};
    ASSERT_TRUE(GetProcessTimes(GetCurrentProcess(), &created, &unused, &unused, &unused));
    FILETIME other = created;
    other.dwLowDateTime ^= 1;  // the same process id, but a process that started at another time
    const std::wstring root = kScratchRoot;
    const std::wstring gone = root + L"\\" + ScratchRegistry::RunName(0xFFFFFFF0, created, 1);
    const std::wstring reused = root + L"\\" + ScratchRegistry::RunName(GetCurrentProcessId(), other, 1);
    const std::wstring alive = root + L"\\" + ScratchRegistry::RunName(GetCurrentProcessId(), created, 999999);
    for (const std::wstring& path : {gone, reused, alive})
        ASSERT_TRUE(RegKey(HKEY_CURRENT_USER, path + L"\\HKLM\\Software", true, kRegWriteAccess).IsOpen());
    {
        ScratchRegistry scratch;
        EXPECT_FALSE(RegKey(HKEY_LOCAL_MACHINE, L"Software", false, kRegReadAccess).IsOpen());  // empty
        RegKey(HKEY_LOCAL_MACHINE, L"Software\\Probe", true, kRegWriteAccess)[L"x"] = DWORD(1);
    }
    auto exists = [](const std::wstring& path) { return RegKey(HKEY_CURRENT_USER, path, false, kRegReadAccess).IsOpen(); };
    EXPECT_FALSE(exists(gone));
    EXPECT_FALSE(exists(reused));
    EXPECT_TRUE(exists(alive));
    RegKey(HKEY_CURRENT_USER, root, false, kRegWriteAccess).DeleteSubkey(alive.substr(root.size() + 1));
    // The real machine hive is back.
    EXPECT_FALSE(RegKey(HKEY_LOCAL_MACHINE, L"Software\\Probe", false, kRegReadAccess).IsOpen());
}

TEST(AppLog, EveryRecordIsOnDiskWhenWriteReturns) {
    TempFolder temp;
    std::string path = temp.Path() + "\\logs\\day.txt";
    AppLog log;
    log.Write(5, "%s", "dropped: no path yet");
    log.SetLogPath(path);
    log.Write(0, "%u\t%s\t;%s", 6u, "CASH.ACCEPT", "\xef\xf0\xe8\xed\xff\xf2\xe0 \xa4");
    // Another program can read the file while the log holds it open.
    EXPECT_EQ(ReadBytes(path), "6\tCASH.ACCEPT\t;\xef\xf0\xe8\xed\xff\xf2\xe0 \xa4\r\n");
    log.Write(0, "two\r\nlines");
    EXPECT_EQ(ReadLines(path).back(), "two  lines");
    log.SetLogPath("");
    log.Write(0, "nowhere");
    EXPECT_EQ(ReadLines(path).size(), 2u);
}

TEST(AppLog, RecordsFromManyThreadsAreAllWritten) {
    TempFolder temp;
    std::string path = temp.Path() + "\\many.txt";
    {
        AppLog log;
        log.SetLogPath(path);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&log, t] {
                for (int i = 0; i < 250; ++i) log.Write(5, "thread %d record %d", t, i);
            });
        for (auto& th : threads) th.join();
    }
    auto lines = ReadLines(path);
    ASSERT_EQ(lines.size(), 1000u);
    for (auto& line : lines) {
        EXPECT_EQ(line[2], ':');
        EXPECT_NE(line.find("\tthread "), std::string::npos);
    }
}

TEST(AppLog, EachRecordGoesToTheFileOfTheLastPath) {
    TempFolder temp;
    AppLog log;
    log.SetLogPath(temp.Path() + "\\a.txt");
    log.Write(0, "one");
    log.SetLogPath(temp.Path() + "\\b.txt");
    log.Write(0, "two");
    log.SetLogPath(temp.Path() + "\\a.txt");
    log.Write(0, "three");
    EXPECT_EQ(ReadBytes(temp.Path() + "\\a.txt"), "one\r\nthree\r\n");
    EXPECT_EQ(ReadBytes(temp.Path() + "\\b.txt"), "two\r\n");
}

TEST(AppLog, ARecordWaitsWhileItsFileIsLockedAndIsWrittenInOrderLater) {
    TempFolder temp;
    std::string path = temp.Path() + "\\locked.txt";
    AppLog log;
    log.SetLogPath(path);
    HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    log.Write(0, "first");
    log.Write(0, "second");
    CloseHandle(lock);
    log.Write(0, "third");
    EXPECT_EQ(ReadBytes(path), "first\r\nsecond\r\nthird\r\n");
}

TEST(AppLog, AFolderThatCannotBeMadeFailsNothing) {
    TempFolder temp;
    WriteBytes(temp.Path() + "\\file", "x");
    AppLog log;
    log.SetLogPath(temp.Path() + "\\file\\below\\log.txt");
    EXPECT_NO_THROW(log.Write(5, "lost quietly"));
}
