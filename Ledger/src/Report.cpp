#include "Report.h"
#include "Reconcile.h"
#include "Text.h"
#include <algorithm>
#include <cstdio>
#include <set>

namespace Ledger {

namespace {

// One line per currency a collection took; a collection that took nothing has one line of its own.
struct CurrencyLine {
    const TerminalCollection* row;
    std::string currency;
    uint64_t notes = 0, amount = 0;
    std::string byDenomination;  // "50x1 100x2", ascending
};

std::vector<CurrencyLine> Lines(const std::vector<TerminalCollection>& collections) {
    std::vector<CurrencyLine> lines;
    for (const TerminalCollection& row : collections) {
        if (row.collection.notes.empty()) lines.push_back({&row, "", 0, 0, ""});
        for (const auto& [currency, denominations] : row.collection.notes) {
            CurrencyLine line{&row, currency, 0, 0, ""};
            for (const auto& [denomination, count] : denominations) {
                line.notes += count;
                line.amount += uint64_t(denomination) * count;
                line.byDenomination += (line.byDenomination.empty() ? "" : " ") + std::to_string(denomination) + "x" +
                                       std::to_string(count);
            }
            lines.push_back(line);
        }
    }
    return lines;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string Html(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// A rejected line's bytes as a person can read them: Windows-1251 text, other bytes as \xNN.
std::string ShownBytes(const std::string& raw) {
    std::string out;
    for (unsigned char byte : raw) {
        std::optional<std::string> text = byte >= 0x20 && byte != 0x7F ? FromCp1251(std::string(1, char(byte))) : std::nullopt;
        if (text) {
            out += *text;
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        }
    }
    return out;
}

// Length in characters of UTF-8 text, for the table's columns.
size_t Width(const std::string& text) {
    size_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

const char* const kColours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b",
                                "#e377c2", "#7f7f7f", "#bcbd22", "#17becf", "#393b79", "#637939"};

// Stacked bars: a bar a day, a band per terminal (the largest eleven, the rest as one).
std::string Chart(const std::string& currency, const std::map<std::string, std::map<int, uint64_t>>& byTerminal) {
    std::vector<std::pair<uint64_t, std::string>> sizes;
    std::set<int> daySet;
    for (const auto& [terminal, days] : byTerminal) {
        uint64_t total = 0;
        for (const auto& [day, amount] : days) {
            total += amount;
            daySet.insert(day);
        }
        sizes.push_back({total, terminal});
    }
    std::sort(sizes.begin(), sizes.end(), [](auto& a, auto& b) { return a.first != b.first ? a.first > b.first : a.second < b.second; });
    const size_t kBands = std::size(kColours);
    std::vector<std::string> bands;
    std::map<std::string, size_t> bandOf;
    for (size_t i = 0; i < sizes.size(); ++i) {
        size_t band = std::min(i, kBands - 1);
        if (band == bands.size())
            bands.push_back(i == kBands - 1 && sizes.size() > kBands ? std::to_string(sizes.size() - i) + " other terminals"
                                                                     : sizes[i].second);
        bandOf[sizes[i].second] = band;
    }
    int first = *daySet.begin(), last = *daySet.rbegin();
    std::map<int, std::vector<uint64_t>> stacks;
    uint64_t top = 1;
    for (int day = first; day <= last; ++day) stacks[day].assign(bands.size(), 0);
    for (const auto& [terminal, days] : byTerminal)
        for (const auto& [day, amount] : days) stacks[day][bandOf[terminal]] += amount;
    for (const auto& [day, stack] : stacks) {
        uint64_t sum = 0;
        for (uint64_t amount : stack) sum += amount;
        top = std::max(top, sum);
    }
    const int days = last - first + 1, plotW = std::max(360, std::min(1100, days * 48)), plotH = 260, left = 80, topM = 20;
    const int width = left + plotW + 220, height = topM + plotH + 60;
    const double slot = double(plotW) / days, barW = std::max(2.0, slot * 0.7);
    char buf[512];
    std::string svg;
    snprintf(buf, sizeof buf,
             "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" role=\"img\">"
             "<title>Takings in %s per terminal and day</title>",
             width, height, width, height, Html(currency).c_str());
    svg += buf;
    for (int i = 0; i <= 4; ++i) {
        double y = topM + plotH - plotH * i / 4.0;
        snprintf(buf, sizeof buf,
                 "<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#ddd\"/><text x=\"%d\" y=\"%.1f\" text-anchor=\"end\" "
                 "font-size=\"11\">%llu</text>",
                 left, y, left + plotW, y, left - 6, y + 4, (unsigned long long)(top * i / 4));
        svg += buf;
    }
    int index = 0;
    for (const auto& [day, stack] : stacks) {
        double x = left + slot * index + (slot - barW) / 2, y = topM + plotH;
        for (size_t band = 0; band < stack.size(); ++band) {
            if (!stack[band]) continue;
            double h = double(stack[band]) / double(top) * plotH;
            y -= h;
            snprintf(buf, sizeof buf,
                     "<rect class=\"bar\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\"><title>%s %s: %llu %s</title></rect>",
                     x, y, barW, h, kColours[band], FormatDay(day).c_str(), Html(bands[band]).c_str(),
                     (unsigned long long)stack[band], Html(currency).c_str());
            svg += buf;
        }
        if (days <= 31 || index % ((days + 30) / 31) == 0) {
            snprintf(buf, sizeof buf, "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\" font-size=\"10\">%s</text>",
                     left + slot * index + slot / 2, topM + plotH + 14, FormatDay(day).substr(5).c_str());
            svg += buf;
        }
        ++index;
    }
    snprintf(buf, sizeof buf, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#333\"/>", left, topM + plotH, left + plotW,
             topM + plotH);
    svg += buf;
    for (size_t band = 0; band < bands.size(); ++band) {
        snprintf(buf, sizeof buf, "<rect x=\"%d\" y=\"%zu\" width=\"12\" height=\"12\" fill=\"%s\"/><text x=\"%d\" y=\"%zu\" font-size=\"12\">%s</text>",
                 left + plotW + 20, topM + band * 18, kColours[band], left + plotW + 38, topM + band * 18 + 10,
                 Html(bands[band]).c_str());
        svg += buf;
    }
    return svg + "</svg>";
}

const char kStyle[] =
    "body{font-family:'DejaVu Sans',Arial,sans-serif;margin:24px;color:#222}h1{font-size:22px}h2{font-size:17px;margin-top:28px}"
    "table{border-collapse:collapse;font-size:13px}th,td{border:1px solid #ccc;padding:3px 7px;text-align:left;vertical-align:top;white-space:nowrap}"
    "th{background:#f0f0f0}td.n{text-align:right}tr.finding td{background:#fff1d6}td.issues{color:#a33;font-size:12px;white-space:normal;min-width:340px}"
    "p.none{color:#777}.summary span{display:inline-block;margin-right:24px}code{font-size:12px;word-break:break-all}";

}  // namespace

std::string CollectionsCsv(const std::vector<TerminalCollection>& collections) {
    std::string csv = "terminal,number,opened,closed,result,expected_notes,notes,amount,currency,by_denomination\n";
    for (const CurrencyLine& line : Lines(collections)) {
        const Collection& c = line.row->collection;
        csv += CsvField(line.row->terminal) + "," + std::to_string(c.number) + "," + c.openedAt + "," + c.closedAt + "," + c.result +
               "," + std::to_string(c.expected) + "," + std::to_string(line.notes) + "," + std::to_string(line.amount) + "," +
               CsvField(line.currency) + "," + line.byDenomination + "\n";
    }
    return csv;
}

std::string CollectionsTable(const std::vector<TerminalCollection>& collections) {
    std::vector<std::vector<std::string>> rows = {
        {"terminal", "number", "opened", "done", "closed", "result", "expected", "notes", "amount", "currency", "by denomination"}};
    for (const CurrencyLine& line : Lines(collections)) {
        const Collection& c = line.row->collection;
        rows.push_back({line.row->terminal, std::to_string(c.number), c.openedAt, c.doneAt, c.closedAt, c.result,
                        std::to_string(c.expected), std::to_string(line.notes), std::to_string(line.amount), line.currency,
                        line.byDenomination});
    }
    std::vector<size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i)
            line += row[i] + (i + 1 < row.size() ? std::string(widths[i] - Width(row[i]) + 2, ' ') : "");
        text += line + "\n";
    }
    if (rows.size() == 1) text += "(no collections)\n";
    return text;
}

std::string HtmlReport(Store& store, const Filter& filter) {
    std::vector<TerminalCollection> collections = store.Collections(filter);
    std::vector<Issue> issues = Reconcile(store, filter);
    std::map<int64_t, std::string> terminals = store.Terminals(filter);

    std::map<std::string, std::map<std::string, std::map<int, uint64_t>>> takings;  // currency, terminal, day
    std::map<std::string, uint64_t> totals;
    for (const auto& [id, name] : terminals)
        for (const Takings& day : store.TakingsOf(id, filter)) {
            takings[day.currency][name][day.day] += day.amount;
            totals[day.currency] += day.amount;
        }
    std::string period = (filter.from ? FormatDay(*filter.from) : std::string("the first day")) + " to " +
                         (filter.to ? FormatDay(*filter.to) : std::string("the last day"));

    std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Fleet ledger</title><style>";
    html += kStyle;
    html += "</style></head><body>\n<h1>Fleet ledger</h1>\n<p class=\"summary\"><span>Period: " + Html(period) + "</span><span>Terminals: " +
            std::to_string(terminals.size()) + "</span><span>Collections: " + std::to_string(collections.size()) +
            "</span><span>Findings: " + std::to_string(issues.size()) + "</span>";
    for (const auto& [currency, total] : totals)
        html += "<span>Takings: " + std::to_string(total) + " " + Html(currency) + "</span>";
    html += "</p>\n<h2>Takings per terminal and day</h2>\n";
    if (takings.empty()) html += "<p class=\"none\">No notes were accepted in the period.</p>\n";
    for (const auto& [currency, byTerminal] : takings) html += "<div>" + Chart(currency, byTerminal) + "</div>\n";

    std::map<std::pair<int64_t, int64_t>, std::vector<const Issue*>> byCollection;
    std::vector<const Issue*> loose;
    for (const Issue& issue : issues) {
        if (issue.collection >= 0) byCollection[{issue.terminalId, issue.collection}].push_back(&issue);
        else loose.push_back(&issue);
    }
    html += "<h2>Collections</h2>\n<table id=\"collections\"><tr><th>Terminal</th><th>No.</th><th>Opened</th><th>Done</th>"
            "<th>Closed</th><th>Result</th><th>Expected</th><th>Notes</th><th>Amount</th><th>By denomination</th><th>Findings</th></tr>\n";
    for (const TerminalCollection& row : collections) {
        const Collection& c = row.collection;
        auto found = byCollection.find({row.terminalId, c.opened});
        std::string findings;
        if (found != byCollection.end())
            for (const Issue* issue : found->second) findings += (findings.empty() ? "" : "<br>") + Html(issue->message);
        std::string denominations;
        for (const auto& [currency, entries] : c.notes) {
            std::string list;
            for (const auto& [denomination, count] : entries)
                list += (list.empty() ? "" : " ") + std::to_string(denomination) + "x" + std::to_string(count);
            denominations += (denominations.empty() ? "" : "<br>") + Html(currency + ": " + list);
        }
        html += std::string("<tr") + (findings.empty() ? "" : " class=\"finding\"") + "><td>" + Html(row.terminal) + "</td><td class=\"n\">" +
                std::to_string(c.number) + "</td><td>" + c.openedAt + "</td><td>" + c.doneAt + "</td><td>" + c.closedAt + "</td><td>" +
                c.result + "</td><td class=\"n\">" + std::to_string(c.expected) + "</td><td class=\"n\">" +
                std::to_string(NoteCount(c.notes)) + "</td><td class=\"n\">" + Html(AmountText(c.notes)) + "</td><td>" + denominations +
                "</td><td class=\"issues\">" + findings + "</td></tr>\n";
    }
    html += "</table>\n";
    if (collections.empty()) html += "<p class=\"none\">No collections in the period.</p>\n";
    if (!loose.empty()) {
        html += "<h2>The stackers since their last collection</h2>\n<table id=\"stackers\"><tr><th>Terminal</th><th>Finding</th></tr>\n";
        for (const Issue* issue : loose)
            html += "<tr class=\"finding\"><td>" + Html(issue->terminal) + "</td><td class=\"issues\">" + Html(issue->message) + "</td></tr>\n";
        html += "</table>\n";
    }
    std::vector<RejectedRow> rejected = store.Rejected(filter);
    html += "<h2>Rejected lines</h2>\n";
    if (rejected.empty()) {
        html += "<p class=\"none\">None: every line of the period's logs was read.</p>\n";
    } else {
        html += "<table id=\"rejected\"><tr><th>Terminal</th><th>File</th><th>Line</th><th>Reason</th><th>Bytes</th></tr>\n";
        for (const RejectedRow& row : rejected)
            html += "<tr><td>" + Html(row.terminal) + "</td><td>" + Html(row.file) + "</td><td class=\"n\">" + std::to_string(row.line) +
                    "</td><td>" + Html(row.reason) + "</td><td><code>" + Html(ShownBytes(row.raw)) + "</code></td></tr>\n";
        html += "</table>\n";
    }
    return html + "</body></html>\n";
}

}  // namespace Ledger
