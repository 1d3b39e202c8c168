// Expectations on the control page's windows as a person would see them: texts, check marks,
// enabled controls and the rows of the list of notes.
#include "Host/Controls.h"
#include "Host/Scenario.h"
#include "Framework/ListView.h"
#include <vector>

namespace Host {

namespace {

constexpr int kNotesList = 105;

void ExpectPageControl(Scenario& scenario, Line& line) {
    long id = long(line.Number());
    ExpectControl(scenario, line, PageControl(scenario, id), L"page " + std::to_wstring(id));
}

void ExpectList(Scenario& scenario, Line& line) {
    ListView list(PageControl(scenario, kNotesList));
    int rows = list.RowCount();
    if (EqualNoCase(line.Peek(), L"rows")) {
        line.Word();
        long long wanted = line.Number();
        scenario.Check(line, rows == wanted, L"list rows " + std::to_wstring(wanted), std::to_wstring(rows) + L" row(s)");
        return;
    }
    long long row = line.Number();
    line.Expect(L"=");
    std::vector<std::wstring> wanted;
    while (!line.AtEnd()) wanted.push_back(line.Word());
    std::wstring expected = L"list " + std::to_wstring(row) + L" =", actual;
    bool holds = row >= 1 && row <= rows;
    for (size_t column = 0; column < wanted.size(); ++column) {
        std::wstring cell = holds ? Visible(list.Cell(int(row - 1), int(column))) : L"";
        expected += L" \"" + wanted[column] + L"\"";
        actual += L" \"" + cell + L"\"";
        holds = holds && cell == wanted[column];
    }
    if (row < 1 || row > rows) actual = L"the list has " + std::to_wstring(rows) + L" row(s)";
    scenario.Check(line, holds, expected, actual);
}

}  // namespace

HWND PageControl(Scenario& scenario, long id) {
    for (auto& page : scenario.Host().Panel().Pages())
        if (HWND control = page.window && IsWindow(page.window) ? GetDlgItem(page.window, int(id)) : nullptr) return control;
    if (scenario.Host().Panel().Pages().empty()) Fail(L"no control page is open");
    Fail(L"the control page has no control " + std::to_wstring(id));
}

void AddPageExpectations(CommandTable& expectations) {
    expectations.Add(L"page ID = TEXT|has TEXT|checked|unchecked|enabled|disabled",
                     L"control ID of the control page shows exactly TEXT, holds TEXT, is (un)checked or "
                     L"enabled/disabled; in TEXT `\\r`, `\\n` and `~` stand for CR, LF and the no-break space",
                     ExpectPageControl);
    expectations.Add(L"list rows N|ROW = \"A\" \"B\" \"C\"",
                     L"the page's list of notes (105) has N rows; row ROW (from 1) reads A, B, C cell by cell "
                     L"(`~` for the no-break space)",
                     ExpectList);
}

}  // namespace Host
