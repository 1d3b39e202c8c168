// The ledger's figures: ingest of a fleet's day (1,000 terminals, about 500,000 records) into
// SQLite and PostgreSQL, and the time of `collections` and `reconcile` over it. Figures, never
// pass or fail.
//   ledger-bench WORKDIR [TERMINALS] [POSTGRESQL-URL]
#include "Ingest.h"
#include "Reconcile.h"
#include "Report.h"
#include "Text.h"
#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

using namespace Ledger;
namespace fs = std::filesystem;

namespace {

// One terminal's day as the plugin writes it: payments of one to four notes, a collection at
// noon, reports; every 50th terminal loses one CASH.ACCEPT record, which reconcile then finds.
void WriteDay(const fs::path& folder, int terminal, const std::string& day) {
    std::mt19937 random(uint32_t(terminal) * 7919u + 1u);
    const uint32_t kNotes[] = {50, 100, 100, 500, 500, 1000, 1000, 5000};
    std::string out;
    int ms = 6 * 3600 * 1000 + terminal * 37;
    auto record = [&](int event, const char* code, const std::string& text) {
        ms += 1000 + int(random() % 60000);
        char head[64];
        snprintf(head, sizeof head, "%02d:%02d:%02d.%03d\t%d\t%s", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000, event, code);
        out += head;
        if (!text.empty()) out += "\t;" + ToCp1251(text);
        out += "\r\n";
    };
    record(1, "LOG.OPEN", "лог открыт");
    uint32_t count = 0, amount = 0;
    int collectionNumber = terminal % 900 + 1;
    bool dropOne = terminal % 50 == 7;
    for (int payment = 0; payment < 112; ++payment) {
        if (payment == 56) {
            record(9, "STACKER.DISPOSED", "стекер удалён");
            record(13, "COLLECT.OPEN", "открыта инкассация №" + std::to_string(collectionNumber) + " (в стекере должно быть купюр: " +
                                           std::to_string(count) + " шт.)");
            record(21, "COUNTER.RESET", "сброшен счётчик купюр \"Collect\" (сброс №" + std::to_string(collectionNumber) + "/" + day + ")");
            record(14, "COLLECT.DONE", "выполнена инкассация №" + std::to_string(collectionNumber) +
                                           " (в стекере должно быть купюр: " + std::to_string(count) + " шт., сброс счётчика купюр)");
            record(10, "STACKER.INSTALLED", "стекер установлен");
            record(15, "COLLECT.CLOSED", "инкассация завершена");
            count = amount = 0;
        }
        record(5, "CASH.INIT", "задействован приём купюр");
        int notes = 1 + int(random() % 4);
        uint32_t sum = 0;
        for (int n = 0; n < notes; ++n) {
            uint32_t note = kNotes[random() % 8];
            ++count;
            amount += note;
            sum += note;
            if (dropOne && payment == 80 && n == 0) continue;
            record(6, "CASH.ACCEPT", "принята купюра " + std::to_string(note) + " RUB (всего в стекере купюр " + std::to_string(count) +
                                         " шт.: RUB¤" + std::to_string(amount) + ")");
        }
        record(7, "CASH.DONE", "приём купюр завершён, всего было принято купюр: " + std::to_string(notes) + " шт. (RUB¤" +
                                   std::to_string(sum) + ")");
    }
    record(2, "LOG.CLOSE", "лог закрыт");
    fs::create_directories(folder);
    std::ofstream(folder / ("Tallymark (" + day + ").txt"), std::ios::binary) << out;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Measure(const std::string& name, const std::string& db, const std::vector<std::string>& folders) {
    auto start = std::chrono::steady_clock::now();
    std::clock_t cpu = std::clock();  // this process's time: steadier than the wall on a shared machine
    Store store(OpenDatabase(db));
    IngestTotals totals;
    for (const std::string& folder : folders) IngestFolder(store, folder, fs::path(folder).filename().string(), totals);
    auto derive = std::chrono::steady_clock::now();
    store.DeriveAll();
    double ingest = Seconds(start), deriving = Seconds(derive), cpuSeconds = double(std::clock() - cpu) / CLOCKS_PER_SEC;
    for (const std::string& failure : totals.failures) fprintf(stderr, "ledger bench: %s\n", failure.c_str());
    printf("ledger %s ingest: %d files, %lld records, %lld rejected in %.2f s (%.2f s of it deriving the collections): "
           "%.0f records/s; the ledger's own CPU %.2f s: %.0f records per CPU second\n",
           name.c_str(), totals.files, totals.records, totals.rejected, ingest, deriving, double(totals.records) / ingest, cpuSeconds,
           double(totals.records) / cpuSeconds);

    start = std::chrono::steady_clock::now();
    size_t bytes = CollectionsCsv(store.Collections(Filter())).size();
    printf("ledger %s collections: %.3f s (%zu bytes of CSV)\n", name.c_str(), Seconds(start), bytes);
    start = std::chrono::steady_clock::now();
    size_t issues = Reconcile(store, Filter()).size();
    printf("ledger %s reconcile: %.3f s (%zu findings)\n", name.c_str(), Seconds(start), issues);
    start = std::chrono::steady_clock::now();
    IngestTotals again;
    for (const std::string& folder : folders) IngestFolder(store, folder, fs::path(folder).filename().string(), again);
    store.DeriveAll();
    printf("ledger %s ingest again: %lld records in %.3f s\n", name.c_str(), again.records, Seconds(start));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: ledger-bench WORKDIR [TERMINALS] [POSTGRESQL-URL]\n");
        return 2;
    }
    try {
        fs::path work = argv[1];
        int terminals = argc > 2 ? std::stoi(argv[2]) : 1000;
        fs::path logs = work / ("fleet-" + std::to_string(terminals));
        std::vector<std::string> folders;
        for (int t = 1; t <= terminals; ++t) {
            char name[32];
            snprintf(name, sizeof name, "T%04d", t);
            folders.push_back((logs / name).string());
        }
        if (!fs::exists(logs / "complete")) {
            fs::remove_all(logs);
            for (int t = 1; t <= terminals; ++t) WriteDay(folders[size_t(t - 1)], t, "2026-12-08");
            std::ofstream(logs / "complete") << "";
        }
        fs::path db = work / "bench.db";
        for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(db.string() + suffix);
        Measure("sqlite", db.string(), folders);
        if (argc > 3) Measure("postgresql", argv[3], folders);
    } catch (const std::exception& error) {
        fprintf(stderr, "ledger bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
