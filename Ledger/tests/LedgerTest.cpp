// The ledger as owners use it, on logs the real plugin wrote in the simulator (LEDGER_FLEET_DIR),
// on SQLite and on the PostgreSQL server of the run.
#include "Ingest.h"
#include "Reconcile.h"
#include "Report.h"
#include "Text.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

using namespace Ledger;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// The file's CR LF lines, without their line ends.
std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2) lines.push_back(bytes.substr(at, end - at));
    return lines;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines) bytes += line + "\r\n";
    return bytes;
}

std::string WithoutHeader(const std::string& csv) { return csv.substr(csv.find('\n') + 1); }

// The first line that starts with the clock's hour, minute and second (the milliseconds vary from
// run to run) and holds `part`.
std::vector<std::string>::iterator Find(std::vector<std::string>& lines, const std::string& clock, const std::string& part) {
    return std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.rfind(clock + ".", 0) == 0 && line.find(part) != std::string::npos;
    });
}

// Runs a shell command; its exit status and what it printed on stdout.
int Shell(const std::string& command, std::string* output = nullptr) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string text;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    int status = pclose(pipe);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const char kNorth[] = "kiosk-north";
const char kDay1[] = "Tallymark (2026-12-08).txt";
const char kDay2[] = "Tallymark (2026-12-09).txt";

const char kNorthCsv[] =
    "kiosk-north,1,2026-12-08 14:00:00,2026-12-08 14:00:00,closed,5,5,2150,RUB,50x1 100x1 500x2 1000x1\n"
    "kiosk-north,2,2026-12-09 15:00:00,2026-12-09 15:00:00,closed,5,5,5750,RUB,50x1 100x2 500x1 5000x1\n";
const char kFleetCsv[] =
    "terminal,number,opened,closed,result,expected_notes,notes,amount,currency,by_denomination\n"
    "kiosk-north,1,2026-12-08 14:00:00,2026-12-08 14:00:00,closed,5,5,2150,RUB,50x1 100x1 500x2 1000x1\n"
    "kiosk-north,2,2026-12-09 15:00:00,2026-12-09 15:00:00,closed,5,5,5750,RUB,50x1 100x2 500x1 5000x1\n"
    "kiosk-south,1,2026-12-08 11:00:00,2026-12-08 11:00:00,cancelled,3,3,2100,RUB,100x1 1000x2\n"
    "kiosk-south,1,2026-12-08 16:00:00,2026-12-08 16:00:00,closed,5,5,2650,RUB,50x1 100x1 500x1 1000x2\n"
    "mall-3,1,2026-12-09 19:00:00,,open,4,4,800,RUB,100x3 500x1\n";

class LedgerTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        fleet_ = LEDGER_FLEET_DIR;
        ASSERT_TRUE(fs::exists(fleet_ / kNorth / kDay1)) << "no fleet logs in " << fleet_;
        char scratch[] = "/tmp/ledger-test.XXXXXX";
        ASSERT_TRUE(mkdtemp(scratch));
        scratch_ = scratch;
        if (GetParam() == "sqlite") {
            db_ = (scratch_ / "ledger.db").string();
        } else {
            std::string server = ReadFile(LEDGER_PG_URL_FILE);
            ASSERT_NE(server.find("/postgres?"), std::string::npos) << "no PostgreSQL server for the tests";
            server = server.substr(0, server.find_last_not_of("\n") + 1);
            std::string name = "ledger_" + std::to_string(std::random_device()() % 1000000000u);
            OpenDatabase(server)->Execute("CREATE DATABASE " + name);
            db_ = server.replace(server.find("/postgres?"), 10, "/" + name + "?");
        }
    }
    void TearDown() override {
        if (!scratch_.empty()) fs::remove_all(scratch_);
    }

    // A terminal's folder of the fleet, copied where a test may change it.
    fs::path Folder(const std::string& terminal) {
        fs::path to = scratch_ / terminal;
        if (!fs::exists(to)) fs::copy(fleet_ / terminal, to);
        return to;
    }
    std::unique_ptr<Store> Open() { return std::make_unique<Store>(OpenDatabase(db_)); }
    IngestTotals Ingest(Store& store, const std::vector<std::string>& terminals) {
        IngestTotals totals;
        for (const std::string& terminal : terminals) IngestFolder(store, Folder(terminal).string(), terminal, totals);
        store.DeriveAll();
        return totals;
    }
    std::vector<std::string> Issues(Store& store) {
        std::vector<std::string> lines;
        for (const Issue& issue : Reconcile(store, Filter())) lines.push_back(issue.Line());
        return lines;
    }
    static bool Has(const std::vector<std::string>& lines, const std::string& part) {
        for (const std::string& line : lines)
            if (line.find(part) != std::string::npos) return true;
        return false;
    }
    std::string Program(const std::string& args, int* status = nullptr) {
        std::string out;
        int code = Shell(std::string(LEDGER_PROGRAM) + " " + args + " --db '" + db_ + "' 2>&1", &out);
        if (status) *status = code;
        return out;
    }

    fs::path fleet_, scratch_;
    std::string db_;
};

// Ingest: the fleet's days as the scenarios made them, read once, then nothing more.
TEST_P(LedgerTest, FleetCollectionsAreWhatTheScenariosDid) {
    auto store = Open();
    IngestTotals first = Ingest(*store, {kNorth, "kiosk-south", "mall-3"});
    size_t lines = 0;
    for (const auto& file : fs::recursive_directory_iterator(scratch_))
        if (file.path().extension() == ".txt") lines += Lines(ReadFile(file.path())).size();
    EXPECT_EQ(first.files, 4);
    EXPECT_EQ(first.records, (long long)lines);
    EXPECT_EQ(first.rejected, 0);
    EXPECT_TRUE(first.failures.empty());
    EXPECT_EQ(CollectionsCsv(store->Collections(Filter())), kFleetCsv);
    EXPECT_TRUE(Issues(*store).empty()) << Issues(*store)[0];

    IngestTotals again = Ingest(*store, {kNorth, "kiosk-south", "mall-3"});
    EXPECT_EQ(again.files + again.records + again.rejected, 0);
    Filter south;
    south.terminal = "kiosk-south";
    EXPECT_EQ(store->Collections(south).size(), 2u);
    Filter secondDay;
    secondDay.from = secondDay.to = ParseDay("2026-12-09");
    EXPECT_EQ(CollectionsCsv(store->Collections(secondDay)),
              std::string("terminal,number,opened,closed,result,expected_notes,notes,amount,currency,by_denomination\n") +
                  "kiosk-north,2,2026-12-09 15:00:00,2026-12-09 15:00:00,closed,5,5,5750,RUB,50x1 100x2 500x1 5000x1\n"
                  "mall-3,1,2026-12-09 19:00:00,,open,4,4,800,RUB,100x3 500x1\n");
}

// Ingest: a day's file still being written, and days arriving out of order, add up to the same.
TEST_P(LedgerTest, GrowingFilesAndLateDaysAddUpToTheSame) {
    fs::path north = Folder(kNorth);
    const std::string day1 = ReadFile(north / kDay1), day2 = ReadFile(north / kDay2);
    fs::remove(north / kDay1);
    const size_t cut = day2.find("\r\n", day2.size() / 2) + 9;  // within a line
    WriteFile(north / kDay2, day2.substr(0, cut));
    auto store = Open();
    IngestTotals part = Ingest(*store, {kNorth});
    EXPECT_EQ(part.rejected, 0) << "a line still being written is left for the next run";
    EXPECT_EQ(part.records, (long long)Lines(day2.substr(0, cut)).size());

    WriteFile(north / kDay1, day1);  // the earlier day comes late
    WriteFile(north / kDay2, day2);  // and the later day's file has grown
    IngestTotals rest = Ingest(*store, {kNorth});
    EXPECT_EQ(rest.rejected, 0);
    EXPECT_EQ(part.records + rest.records, (long long)(Lines(day1).size() + Lines(day2).size()));
    EXPECT_EQ(WithoutHeader(CollectionsCsv(store->Collections(Filter()))), kNorthCsv);
    EXPECT_TRUE(Issues(*store).empty());
}

// Ingest: what a fleet's folders really hold besides clean logs.
TEST_P(LedgerTest, HostileLogsLoseNothingAndCountNothingTwice) {
    fs::path north = Folder(kNorth);
    std::vector<std::string> day1 = Lines(ReadFile(north / kDay1));
    std::string day2 = ReadFile(north / kDay2);
    auto accept = Find(day1, "18:00:00", "\t6\tCASH.ACCEPT");
    ASSERT_NE(accept, day1.end());
    accept->replace(0, 2, "08");  // the clock went back
    day1.insert(day1.begin() + 3, {"garbage \x01 here", "09:00:00.030\t99\tCASH.MAGIC\t;x", "09:00:00.031\tx7\tCASH.DONE",
                                   "09:00:00.032\t6\tCASH.ACCEPT\t;" + ToCp1251("принята купюра сто RUB")});
    WriteFile(north / kDay1, Join(day1));
    WriteFile(north / "Tallymark (2026-12-08) - копия.txt", Join(day1));
    WriteFile(north / kDay2, day2.substr(0, day2.size() - 2));  // its last line without CR LF
    WriteFile(north / "Tallymark (2026-12-11).txt", *FromCp1251(day2));  // saved as UTF-8
    WriteFile(north / "notes.doc", "not a log");

    auto store = Open();
    IngestTotals totals = Ingest(*store, {kNorth});
    EXPECT_TRUE(totals.failures.empty());
    ASSERT_EQ(totals.notes.size(), 1u);
    EXPECT_NE(totals.notes[0].find("notes.doc"), std::string::npos);
    EXPECT_EQ(WithoutHeader(CollectionsCsv(store->Collections(Filter()))), kNorthCsv);

    std::map<std::string, std::vector<std::string>> reasons;  // file to "line: reason"
    for (const RejectedRow& row : store->Rejected(Filter())) reasons[row.file].push_back(std::to_string(row.line) + ": " + row.reason);
    EXPECT_EQ(reasons[kDay1], (std::vector<std::string>{"4: control byte 0x01 in the line",
                                                        "5: unknown event code", "6: event number does not parse",
                                                        "7: the description of CASH.ACCEPT does not read"}));
    EXPECT_EQ(reasons["Tallymark (2026-12-08) - копия.txt"],
              std::vector<std::string>{"0: the file repeats Tallymark (2026-12-08).txt of the same day: not taken again"});
    ASSERT_EQ(reasons[kDay2].size(), 1u);
    EXPECT_NE(reasons[kDay2][0].find("the last line of a finished day has no CR LF"), std::string::npos);
    EXPECT_EQ(reasons["Tallymark (2026-12-11).txt"].size(), Lines(day2).size());
    EXPECT_NE(reasons["Tallymark (2026-12-11).txt"][0].find("UTF-8 text, not Windows-1251"), std::string::npos);
    EXPECT_EQ(totals.rejected, 4 + 1 + 1 + (long long)Lines(day2).size());

    std::vector<std::string> issues = Issues(*store);
    EXPECT_TRUE(Has(issues, "kiosk-north, collection 2 opened 2026-12-09 15:00:00: records out of time order: 08:00:00 written after 18:00:00"));
    EXPECT_TRUE(Has(issues, "kiosk-north, the stacker since the last collection: no log file for 2026-12-10, between days that have one"));
    EXPECT_EQ(issues.size(), 2u);
}

// Reconcile: records missing, a reset outside a collection, and the cash office's count.
TEST_P(LedgerTest, ReconcileNamesEveryDifference) {
    fs::path north = Folder(kNorth);
    std::vector<std::string> day1 = Lines(ReadFile(north / kDay1));
    auto second = Find(day1, "09:00:00", ToCp1251("принята купюра 500 RUB (всего в стекере купюр 2 шт."));
    ASSERT_NE(second, day1.end());
    day1.erase(second);  // the first 500 RUB note's record is lost
    auto evening = Find(day1, "18:00:00", "\t7\tCASH.DONE");
    ASSERT_NE(evening, day1.end());
    day1.insert(evening + 1, "18:05:00.000\t21\tCOUNTER.RESET\t;" +
                                 ToCp1251("сброшен счётчик купюр \"Collect\" (сброс №9/08.12.2026 18:05:00)"));
    WriteFile(north / kDay1, Join(day1));
    auto store = Open();
    Ingest(*store, {kNorth});
    int64_t terminal = *store->FindTerminal(kNorth);
    store->RecordCount({terminal, 1, "RUB", {{50, 1}, {100, 1}, {500, 2}, {1000, 1}}, "2026-12-09 10:00:00"});

    const std::vector<std::string> expected = {
        "kiosk-north, collection 1 opened 2026-12-08 14:00:00: the stacker's count jumps from 1 to 3 notes at 2026-12-08 09:00:00: "
        "1 CASH.ACCEPT record(s) missing",
        "kiosk-north, collection 1 opened 2026-12-08 14:00:00: COLLECT.OPEN expects 5 notes in the stacker, the log records 4 since "
        "the last collection",
        "kiosk-north, collection 1 opened 2026-12-08 14:00:00: the cash office's count (2026-12-09 10:00:00) differs from the "
        "terminal's record by +500 RUB: 500 RUB counted 2, recorded 1 (+500 RUB)",
        "kiosk-north, collection 2 opened 2026-12-09 15:00:00: the stacker's counter was reset outside a collection at "
        "2026-12-08 18:05:00: its 2 notes (200 RUB) are in no collection",
        "kiosk-north, collection 2 opened 2026-12-09 15:00:00: the stacker's count jumps from 0 to 3 notes at 2026-12-09 10:00:00: "
        "2 CASH.ACCEPT record(s) missing",
        "kiosk-north, collection 2 opened 2026-12-09 15:00:00: COLLECT.OPEN expects 5 notes in the stacker, the log records 3 since "
        "the last collection",
    };
    EXPECT_EQ(Issues(*store), expected);
    Filter secondDay;
    secondDay.from = ParseDay("2026-12-09");
    EXPECT_EQ(Reconcile(*store, secondDay).size(), 3u);

    // Counted again, right this time: the earlier count stays in the history only.
    store->RecordCount({terminal, 1, "RUB", {{50, 1}, {100, 1}, {500, 1}, {1000, 1}}, "2026-12-09 11:00:00"});
    EXPECT_EQ(store->CountHistory(terminal, 1).size(), 2u);
    EXPECT_FALSE(Has(Issues(*store), "cash office"));
}

// The commands as an owner types them: summary lines, CSV, exit statuses, the page in a browser.
TEST_P(LedgerTest, CommandsAnswerAsTheOwnerExpects) {
    int status = -1;
    std::string folders = "'" + Folder(kNorth).string() + "' '" + Folder("kiosk-south").string() + "' '" + Folder("mall-3").string() + "'";
    std::string out = Program("ingest " + folders, &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("ingest: 4 files, "), std::string::npos) << out;
    EXPECT_NE(out.find(" records, 0 rejected\n"), std::string::npos) << out;
    EXPECT_EQ(Program("ingest " + folders, &status), "ingest: 0 files, 0 records, 0 rejected\n");
    out = Program("ingest '" + (scratch_ / "no-such-terminal").string() + "'", &status);
    EXPECT_EQ(status, 3) << out;
    EXPECT_NE(out.find("no-such-terminal: cannot read the folder"), std::string::npos) << out;
    EXPECT_EQ(Program("collections --csv", &status), kFleetCsv);
    EXPECT_EQ(Program("reconcile", &status), "");
    EXPECT_EQ(status, 0);

    out = Program("count mall-3 1 100=3 500=2", &status);
    EXPECT_EQ(status, 0) << out;
    out = Program("reconcile --terminal mall-3", &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("mall-3, collection 1 opened 2026-12-09 19:00:00: the cash office's count"), std::string::npos) << out;
    EXPECT_EQ(Program("reconcile --terminal kiosk-north", &status), "");
    EXPECT_EQ(status, 0);
    Program("count mall-3 7 100=1", &status);
    EXPECT_EQ(status, 3) << "no such collection";
    Program("collections --from 2026-13-01", &status);
    EXPECT_EQ(status, 2);

    if (GetParam() != "sqlite") return;  // the page is the same on either: looked at once
    fs::path page = scratch_ / "ledger.html";
    Program("report --html '" + page.string() + "'", &status);
    ASSERT_EQ(status, 0);
    std::string html = ReadFile(page);
    for (const char* external : {"src=", "href=", "url(", "@import", "<script"}) EXPECT_EQ(html.find(external), std::string::npos) << external;
    std::string dom;
    ASSERT_EQ(Shell("chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking"
                  " --disable-component-update --disable-sync --user-data-dir='" + (scratch_ / "browser").string() +
                  "' --dump-dom 'file://" + page.string() + "' 2>/dev/null", &dom), 0);
    size_t bars = 0;
    for (size_t at = 0; (at = dom.find("<rect class=\"bar\"", at)) != std::string::npos; ++at) ++bars;
    EXPECT_EQ(bars, 4u) << "one bar per terminal and day with takings";
    EXPECT_NE(dom.find("<td>mall-3</td>"), std::string::npos);
    EXPECT_NE(dom.find("class=\"finding\""), std::string::npos) << "mall-3's collection is marked";
}

// Ingest: two ledgers reading the same folders into one database at once take each line once.
TEST_P(LedgerTest, TwoIngestsAtOnceTakeEachLineOnce) {
    std::string command = std::string(LEDGER_PROGRAM) + " ingest --db '" + db_ + "'";
    size_t lines = 0;
    for (const char* terminal : {kNorth, "kiosk-south", "mall-3"}) {
        command += " '" + Folder(terminal).string() + "'";
        for (const auto& file : fs::directory_iterator(Folder(terminal))) lines += Lines(ReadFile(file.path())).size();
    }
    EXPECT_EQ(Shell("(" + command + " & a=$!; " + command + " & b=$!; wait $a && wait $b) >/dev/null 2>&1"), 0);
    auto store = Open();
    EXPECT_EQ(CollectionsCsv(store->Collections(Filter())), kFleetCsv);
    Statement& count = store->Db().Prepare("SELECT COUNT(*) FROM records");
    ASSERT_TRUE(count.Step());
    EXPECT_EQ(count.Int(0), (int64_t)lines);
    count.Reset();
}

// Ingest: a collection still open at the end of a day's file is taken up again by the next day's.
TEST_P(LedgerTest, CollectionOpenOverMidnightIsTakenUpByTheNextDay) {
    fs::path north = Folder(kNorth);
    std::vector<std::string> day1 = Lines(ReadFile(north / kDay1)), day2 = Lines(ReadFile(north / kDay2));
    auto done = Find(day1, "14:00:00", "\t14\tCOLLECT.DONE");
    ASSERT_NE(done, day1.end());
    // The stacker goes back, and the collection closes, at two seconds past midnight.
    std::vector<std::string> moved(done + 1, day1.end() - 1);
    day1.erase(done + 1, day1.end() - 1);
    for (std::string& line : moved) line.replace(0, 12, "00:00:02.000");
    day2.insert(day2.begin() + 2, moved.begin(), moved.end());
    WriteFile(north / kDay2, Join(day2));
    WriteFile(north / kDay1, Join(day1));
    fs::rename(north / kDay2, scratch_ / kDay2);

    auto store = Open();
    Ingest(*store, {kNorth});
    EXPECT_EQ(WithoutHeader(CollectionsCsv(store->Collections(Filter()))),
              "kiosk-north,1,2026-12-08 14:00:00,,open,5,5,2150,RUB,50x1 100x1 500x2 1000x1\n");
    fs::rename(scratch_ / kDay2, north / kDay2);
    Ingest(*store, {kNorth});
    EXPECT_EQ(WithoutHeader(CollectionsCsv(store->Collections(Filter()))),
              "kiosk-north,1,2026-12-08 14:00:00,2026-12-09 00:00:02,closed,5,5,2150,RUB,50x1 100x1 500x2 1000x1\n"
              "kiosk-north,2,2026-12-09 15:00:00,2026-12-09 15:00:00,closed,5,5,5750,RUB,50x1 100x2 500x1 5000x1\n");
    EXPECT_TRUE(Issues(*store).empty()) << Issues(*store)[0];
}

// A database of a newer ledger is refused untouched; rows derived by older rules are derived again.
TEST_P(LedgerTest, SchemaVersionsMoveForwardOnly) {
    {
        auto store = Open();
        Ingest(*store, {kNorth});
        store->Db().Execute("UPDATE meta SET value = '99' WHERE key = 'schema_version'");
    }
    try {
        Open();
        FAIL() << "a newer schema was opened";
    } catch (const Error& error) {
        EXPECT_NE(std::string(error.what()).find("was written by a newer ledger (schema version 99"), std::string::npos) << error.what();
    }
    {
        auto raw = OpenDatabase(db_);
        raw->Execute("UPDATE meta SET value = '1' WHERE key = 'schema_version'");
        raw->Execute("UPDATE meta SET value = '0' WHERE key = 'derive_version'");
        raw->Execute("DELETE FROM collections");
    }
    auto store = Open();
    EXPECT_EQ(WithoutHeader(CollectionsCsv(store->Collections(Filter()))), kNorthCsv);
}

Record Line(int line, const std::string& clock, int event, const std::string& code, const std::string& text) {
    Record record;
    std::string reason;
    std::string bytes = clock + "\t" + std::to_string(event) + "\t" + code + (text.empty() ? "" : "\t;" + ToCp1251(text));
    EXPECT_TRUE(ParseLine(bytes, record, reason)) << reason;
    record.line = line;
    return record;
}

// The records' layout: what is refused, and why.
TEST(LogFormat, LinesThatAreNotWhatThePluginWritesAreRefusedWithTheirReason) {
    const std::pair<std::string, std::string> cases[] = {
        {"10:00:00.000\t7\tCASH.ACCEPT", "event number 7 does not belong to CASH.ACCEPT"},
        {"24:00:00.000\t1\tLOG.OPEN", "time out of range: 24:00:00.000"},
        {"10:00:00.000\t1\tLOG.OPEN\tlog", "no ';' before the description"},
        {"10:00:00.000\t1\tLOG.OPEN\t;\x98", "byte 0x98 is no Windows-1251 character"},
        {std::string("1\0000\000:\0000\0000", 9), "NUL bytes: not Windows-1251 text (UTF-16?)"},
        {"10:00:00.000\t13\tCOLLECT.OPEN\t;" + ToCp1251("открыта инкассация №x (в стекере должно быть купюр: 1 шт.)"),
         "the description of COLLECT.OPEN does not read"},
    };
    for (const auto& [line, reason] : cases) {
        Record record;
        std::string why;
        EXPECT_FALSE(ParseLine(line, record, why)) << line;
        EXPECT_EQ(why, reason) << line;
    }
}

// Two currencies in one stacker: each counted on its own, a wrong amount found in the right one.
TEST(Derive, StackerOfTwoCurrenciesGivesALinePerCurrency) {
    Deriver deriver{DeriveState()};
    deriver.BeginFile(*ParseDay("2026-12-08"), 0);
    deriver.Add(Line(1, "09:00:00.000", 6, "CASH.ACCEPT", "принята купюра 100 RUB (всего в стекере купюр 1 шт.: RUB¤100)"));
    deriver.Add(Line(2, "09:00:01.000", 6, "CASH.ACCEPT", "принята купюра 5 USD (всего в стекере купюр 2 шт.: RUB¤100 + USD¤5)"));
    deriver.Add(Line(3, "09:00:02.000", 6, "CASH.ACCEPT", "принята купюра 10 USD (всего в стекере купюр 3 шт.: RUB¤100 + USD¤25)"));
    deriver.Add(Line(4, "10:00:00.000", 13, "COLLECT.OPEN", "открыта инкассация №4 (в стекере должно быть купюр: 3 шт.)"));
    deriver.Add(Line(5, "10:00:01.000", 21, "COUNTER.RESET", "сброшен счётчик купюр \"Collect\" (сброс №4/08.12.2026 10:00:01)"));
    deriver.Add(Line(6, "10:00:02.000", 14, "COLLECT.DONE", "выполнена инкассация №4 (08.12.2026 10:00:02, сброс счётчика купюр)"));
    deriver.Add(Line(7, "10:00:03.000", 15, "COLLECT.CLOSED", "инкассация завершена"));
    deriver.Finish();
    ASSERT_EQ(deriver.findings.size(), 1u);
    EXPECT_EQ(deriver.findings[0].message,
              "the stacker's amount jumps at 2026-12-08 09:00:02 after a 10 USD note: USD 25 where 15 was due");
    ASSERT_EQ(deriver.collections.size(), 1u);
    EXPECT_EQ(deriver.takings.size(), 2u);
    EXPECT_EQ(WithoutHeader(CollectionsCsv({{"kiosk", 1, deriver.collections[0]}})),
              "kiosk,4,2026-12-08 10:00:00,2026-12-08 10:00:03,closed,3,1,100,RUB,100x1\n"
              "kiosk,4,2026-12-08 10:00:00,2026-12-08 10:00:03,closed,3,2,15,USD,5x1 10x1\n");
    // What carries to the next file reads back as it was written.
    EXPECT_EQ(DeriveState::Parse(deriver.State().Serialize()).Serialize(), deriver.State().Serialize());
}

INSTANTIATE_TEST_SUITE_P(Backends, LedgerTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
