#include "Plugin/Counting/PLLog.h"
#include "Framework/Text.h"
#include "tests/TestFiles.h"
#include "tests/HeldClock.h"
#include <gtest/gtest.h>

using Plugin::LogEvent;
using Plugin::OperationLog;

namespace {

RealTime At(int year, int month, int day, int hour = 12, int minute = 0, int second = 0) {
    SYSTEMTIME st{};
    st.wYear = WORD(year), st.wMonth = WORD(month), st.wDay = WORD(day);
    st.wHour = WORD(hour), st.wMinute = WORD(minute), st.wSecond = WORD(second);
    return RealTime(st);
}

// The records of a log file without the writer's time stamp, as UTF-8 for readable failures.
std::vector<std::string> Records(const std::string& path) {
    std::vector<std::string> records;
    for (const std::string& line : ReadLines(path)) {
        size_t tab = line.find('\t');
        records.push_back(Narrow(Widen1251(tab == std::string::npos ? line : line.substr(tab + 1)), CP_UTF8));
    }
    return records;
}

class LogTest : public ::testing::Test {
protected:
    HeldClock clock_{At(2026, 5, 17, 10, 0, 0)};
    TempFolder folder_;
    std::string File(const std::string& name) const { return folder_.Path() + "\\" + name; }
    std::wstring Template(const std::string& pattern) const { return Widen(File(pattern)); }
};

// Also run under another ANSI code page (see tests/CMakeLists.txt): the bytes stay Windows-1251.
TEST_F(LogTest, RecordsCarryNumberCodeAndDescriptionOnlyWhenGiven) {
    if (GetEnvironmentVariableW(L"TALLY_EXPECT_CODE_PAGE_OTHER_THAN_1251", nullptr, 0)) {
        ASSERT_NE(GetACP(), 1251u) << "this run was meant for another code page";
    }
    {
        OperationLog log;
        log.SetPathTemplate(Template("Tallymark *.txt"));
        log.RollToToday();
        log.Write(LogEvent::CashInit, std::wstring(L"задействован приём купюр"));
        log.Write(LogEvent::ZReportDone, std::string());
        log.Close();
        log.Write(LogEvent::CashInit, std::string("after close"));
    }
    EXPECT_EQ(Records(File("Tallymark (2026-05-17).txt")),
              (std::vector<std::string>{"1\tLOG.OPEN\t;лог открыт", "5\tCASH.INIT\t;задействован приём купюр",
                                        "30\tZREPORT.DONE", "2\tLOG.CLOSE\t;лог закрыт"}));
    // The description's bytes are the Windows-1251 text.
    std::string bytes = ReadBytes(File("Tallymark (2026-05-17).txt"));
    EXPECT_NE(bytes.find("\t;\xEB\xEE\xE3 \xEE\xF2\xEA\xF0\xFB\xF2\r\n"), std::string::npos);  // "лог открыт"
    EXPECT_EQ(bytes.find("\t1\tLOG.OPEN"), 12u);  // "hh:mm:ss.mmm" then the record
}

TEST_F(LogTest, FirstRecordAfterMidnightClosesYesterdayAndOpensToday) {
    OperationLog log;
    log.SetPathTemplate(Template("Tallymark *.txt"));
    clock_.Set(At(2026, 5, 17, 23, 59, 58));
    log.RollToToday();
    log.Write(LogEvent::StackerDisposed, std::wstring(L"стекер удалён"));
    clock_.Set(At(2026, 5, 18, 0, 0, 5));
    log.Write(LogEvent::CashAccept, std::string("x"));
    EXPECT_EQ(log.Date(), At(2026, 5, 18).Date());
    EXPECT_EQ(Records(File("Tallymark (2026-05-17).txt")),
              (std::vector<std::string>{"1\tLOG.OPEN\t;лог открыт", "9\tSTACKER.DISPOSED\t;стекер удалён",
                                        "2\tLOG.CLOSE\t;лог закрыт"}));
    EXPECT_EQ(Records(File("Tallymark (2026-05-18).txt")),
              (std::vector<std::string>{"1\tLOG.OPEN\t;лог открыт", "6\tCASH.ACCEPT\t;x"}));
}

TEST_F(LogTest, TemplateWithoutStarKeepsOneFileAndStillMarksTheDayChange) {
    {
        OperationLog log;
        log.SetPathTemplate(Template("plain.txt"));
        log.RollToToday();
        clock_.Set(At(2026, 5, 18, 1));
        log.RollToToday();
        log.RollToToday();  // same day: nothing
    }
    EXPECT_EQ(Records(File("plain.txt")),
              (std::vector<std::string>{"1\tLOG.OPEN\t;лог открыт", "2\tLOG.CLOSE\t;лог закрыт",
                                        "1\tLOG.OPEN\t;лог открыт", "2\tLOG.CLOSE\t;лог закрыт"}));
}

TEST_F(LogTest, EnvironmentReferencesAreExpandedBeforeTheDate) {
    SetEnvironmentVariableW(L"TALLY_LOG_TEST_DIR", Widen(folder_.Path()).c_str());
    EXPECT_EQ(Plugin::PLLog::MakePath(L"%TALLY_LOG_TEST_DIR%\\Tallymark\\Tallymark *.txt", At(2024, 5, 17)),
              File("Tallymark\\Tallymark (2024-05-17).txt"));
    // Only the first star is the date.
    EXPECT_EQ(Plugin::PLLog::MakePath(L"a*b*.txt", At(2024, 1, 2)), "a(2024-01-02)b*.txt");
    EXPECT_EQ(Plugin::PLLog::MakePath(L"a*.txt", RealTime::Never), "");
    EXPECT_EQ(Plugin::PLLog::MakePath(L"", At(2024, 1, 2)), "");
    SetEnvironmentVariableW(L"TALLY_LOG_TEST_DIR", nullptr);
}

TEST_F(LogTest, UnusablePathsDropRecordsWithoutFailing) {
    WriteBytes(File("blocker"), "not a folder");
    const std::wstring unusable[] = {L"", Template("blocker\\sub\\Tallymark *.txt"), L"\\\\?\\Z:\\nowhere\\<>|*.txt"};
    for (const std::wstring& pattern : unusable) {
        OperationLog log;
        log.SetPathTemplate(pattern);
        EXPECT_NO_THROW(log.RollToToday());
        EXPECT_NO_THROW(log.Write(LogEvent::CashInit, std::string("x")));
        EXPECT_EQ(log.Date(), clock_.Now().Date()) << Narrow(pattern);
    }
    EXPECT_EQ(ReadBytes(File("blocker")), "not a folder");
}

}  // namespace
