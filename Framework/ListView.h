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

    void Clear();
    // Appends a row; cells beyond the columns are dropped. Answers the row's index.
    int AddRow(const std::vector<std::wstring>& cells);
    int RowCount() const;
    std::wstring Cell(int row, int column) const;

    // Sets every column's width: with `content`, wide enough for the header and every cell;
    // without, for the header alone.
    void AutoWidth(bool content);

    // Stops repainting while many rows change; repaints once when it ends.
    class Batch {
    public:
        explicit Batch(const ListView& list);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        HWND window_;
    };

private:
    HWND window_;
};
