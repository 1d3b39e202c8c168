// A report-style list view control driven by its window messages.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>

class ListView {
public:
    // Column text alignment, as the LVCFMT_* justification values.
    enum Align { Left = LVCFMT_LEFT, Right = LVCFMT_RIGHT, Center = LVCFMT_CENTER };

    explicit ListView(HWND window) : window_(window) {}
    HWND Window() const { return window_; }

    void SetExtendedStyle(DWORD mask, DWORD style);
    // Appends a column; answers its index.
    int AddColumn(const std::wstring& title, Align align = Left);
    int ColumnCount() const;
    void SetAlign(int column, Align align);

    int RowCount() const;
    std::wstring Cell(int row, int column) const;

    // Sets every column's width: with `content`, wide enough for the header and every cell;
    // without, for the header alone.
    void AutoWidth(bool content);

private:
    HWND window_;
};

// The rows of a list view made with LVS_OWNERDATA. They are held here and handed to the control as it
// asks for them (LVN_GETDISPINFO, reaching the list's parent), so that only the rows shown are filled.
class ListRows {
public:
    using Row = std::vector<std::wstring>;

    // Answers for `list` from now on, watching its parent's messages until destroyed; gives the list
    // its columns.
    ListRows(HWND list, const std::vector<std::wstring>& titles);
    ~ListRows();
    ListRows(const ListRows&) = delete;
    ListRows& operator=(const ListRows&) = delete;

    ListView View() const { return list_; }
    // Replaces every row; the selection goes and the list shows its top, as when it is filled anew.
    void Show(std::vector<Row> rows);
    // As ListView::AutoWidth, without the control measuring every row.
    void AutoWidth(bool content);

private:
    static LRESULT CALLBACK Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data);
    const std::wstring* CellText(int row, int column) const;
    int Find(const NMLVFINDITEMW& find) const;
    void SetCount(int count);
    // The widest text of each column among `rows` in the control's font; -1 where none.
    std::vector<LONG> TextWidths(const std::vector<Row>& rows) const;

    ListView list_;
    HWND parent_ = nullptr;
    std::vector<Row> rows_;
    // While set, the control is shown this one row, to measure it.
    const Row* measured_ = nullptr;
    // Per column: the width for its header alone, and what the control adds to a cell's text.
    std::vector<int> headerWidths_, paddings_;
};
