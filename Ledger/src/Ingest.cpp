#include "Ingest.h"
#include "Text.h"
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace Ledger {

namespace {

std::string Hex(uint64_t value) {
    char text[20];
    snprintf(text, sizeof text, "%016llx", (unsigned long long)value);
    return text;
}

bool EndsWithTxt(const std::string& name) {
    if (name.size() < 4) return false;
    std::string end = name.substr(name.size() - 4);
    std::transform(end.begin(), end.end(), end.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return end == ".txt";
}

bool ReadWhole(const std::string& path, std::string& bytes, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::strerror(errno);
        return false;
    }
    std::ostringstream out;
    out << in.rdbuf();
    if (in.bad()) {
        error = "read error";
        return false;
    }
    bytes = out.str();
    return true;
}

struct Candidate {
    std::string name;
    int day;
    int64_t size, mtime;
};

// Splits the bytes from `from` into complete lines (up to LF), parsing each.
void TakeLines(const std::string& bytes, FileRow& file, bool finalDay, std::vector<Record>& records,
               std::vector<Rejection>& rejected) {
    size_t at = size_t(file.consumed);
    int line = file.lines;
    for (;;) {
        size_t end = bytes.find('\n', at);
        if (end == std::string::npos) break;
        std::string_view text(bytes.data() + at, end - at);
        ++line;
        Record record;
        std::string reason;
        if (text.empty() || text.back() != '\r') {
            rejected.push_back({line, "the line ends without CR before its LF", std::string(text)});
        } else {
            text.remove_suffix(1);
            record.line = line;
            if (ParseLine(text, record, reason)) records.push_back(std::move(record));
            else rejected.push_back({line, reason, std::string(text)});
        }
        at = end + 1;
    }
    // A last line without its line end is still being written, unless a later day has begun.
    if (at < bytes.size() && finalDay) {
        rejected.push_back({++line, "the last line of a finished day has no CR LF", bytes.substr(at)});
        at = bytes.size();
    }
    file.consumed = int64_t(at);
    file.lines = line;
}

}  // namespace

std::optional<int> LogDay(const std::string& name) {
    for (size_t open = name.find('('); open != std::string::npos; open = name.find('(', open + 1))
        if (open + 11 < name.size() && name[open + 11] == ')')
            if (std::optional<int> day = ParseDay(std::string_view(name).substr(open + 1, 10))) return day;
    return std::nullopt;
}

void IngestFolder(Store& store, const std::string& folder, const std::string& terminalName, IngestTotals& totals) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        totals.failures.push_back(folder + ": cannot read the folder: " + std::strerror(errno));
        return;
    }
    std::vector<Candidate> candidates;
    std::vector<std::string> passed;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat info {};
        if (stat((folder + "/" + name).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        std::optional<int> day = LogDay(name);
        if (!day || !EndsWithTxt(name)) {
            passed.push_back(name);
            continue;
        }
        candidates.push_back({name, *day, int64_t(info.st_size),
                              int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec});
    }
    closedir(dir);
    std::sort(passed.begin(), passed.end());
    if (!passed.empty()) {
        std::string list;
        for (const std::string& name : passed) list += (list.empty() ? "" : ", ") + name;
        totals.notes.push_back(folder + ": passed over, not named like a day's log \"... (YYYY-MM-DD).txt\": " + list);
    }
    // The day's own file first: of several files of one day, the shortest name is the original.
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        if (a.day != b.day) return a.day < b.day;
        if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
        return a.name < b.name;
    });

    int64_t terminal = store.AddTerminal(terminalName);
    std::vector<FileRow> known = store.Files(terminal);
    int lastDay = known.empty() ? -1 : known.back().day;
    for (const Candidate& c : candidates) lastDay = std::max(lastDay, c.day);

    for (const Candidate& candidate : candidates) {
        const std::string path = folder + "/" + candidate.name;
        auto row = std::find_if(known.begin(), known.end(), [&](const FileRow& f) { return f.name == candidate.name; });
        FileRow file;
        if (row != known.end()) {
            file = *row;
            if (!file.duplicateOf.empty() || (file.size == candidate.size && file.mtime == candidate.mtime)) continue;
        } else {
            file.terminal = terminal;
            file.name = candidate.name;
            file.day = candidate.day;
            file.fingerprint = Hex(Fingerprint(""));
        }
        std::string bytes, error;
        if (!ReadWhole(path, bytes, error)) {
            totals.failures.push_back(path + ": cannot read: " + error);
            continue;
        }
        if (int64_t(bytes.size()) < file.consumed ||
            Hex(Fingerprint(std::string_view(bytes).substr(0, size_t(file.consumed)))) != file.fingerprint) {
            totals.failures.push_back(path + ": changed since it was read into the ledger (its first " +
                                      std::to_string(file.consumed) + " bytes differ); its new lines are not taken");
            continue;
        }
        std::vector<Record> records;
        std::vector<Rejection> rejected;
        if (file.id == 0) {
            // A copy of a day's file under another name repeats what the ledger holds already.
            for (const FileRow& other : known) {
                if (other.day != file.day || !other.duplicateOf.empty()) continue;
                std::string theirs;
                if (!ReadWhole(folder + "/" + other.name, theirs, error)) continue;
                size_t common = std::min(theirs.size(), bytes.size());
                if (common > 0 && theirs.compare(0, common, bytes, 0, common) == 0) {
                    file.duplicateOf = other.name;
                    break;
                }
            }
        }
        file.size = candidate.size;
        file.mtime = candidate.mtime;
        if (!file.duplicateOf.empty()) {
            rejected.push_back({0, "the file repeats " + file.duplicateOf + " of the same day: not taken again", ""});
            file.consumed = int64_t(bytes.size());
        } else {
            TakeLines(bytes, file, candidate.day < lastDay, records, rejected);
        }
        file.fingerprint = Hex(Fingerprint(std::string_view(bytes).substr(0, size_t(file.consumed))));
        try {
            if (!store.SaveFile(file, row != known.end() ? row->consumed : 0, records, rejected)) continue;
        } catch (const Error& e) {
            totals.failures.push_back(path + ": cannot write into the ledger: " + e.what());
            continue;
        }
        if (row != known.end()) *row = file;
        else known.push_back(file);
        if (!records.empty() || !rejected.empty()) ++totals.files;
        totals.records += (long long)records.size();
        totals.rejected += (long long)rejected.size();
    }
}

}  // namespace Ledger
