#include "Framework/ListView.h"
#include "Framework/Text.h"
#include <commctrl.h>
#include <algorithm>

void ListView::SetExtendedStyle(DWORD mask, DWORD style) {
    SendMessageW(window_, LVM_SETEXTENDEDLISTVIEWSTYLE, mask, style);
}

int ListView::ColumnCount() const {
    HWND header = reinterpret_cast<HWND>(SendMessageW(window_, LVM_GETHEADER, 0, 0));
    return header ? int(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

int ListView::AddColumn(const std::wstring& title, Align align) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
    column.fmt = align;
    column.cx = 50;
    column.pszText = const_cast<wchar_t*>(title.c_str());
    return int(SendMessageW(window_, LVM_INSERTCOLUMNW, ColumnCount(), reinterpret_cast<LPARAM>(&column)));
}

void ListView::SetAlign(int column, Align align) {
    LVCOLUMNW format{};
    format.mask = LVCF_FMT;
    format.fmt = align;
    SendMessageW(window_, LVM_SETCOLUMNW, column, reinterpret_cast<LPARAM>(&format));
}

int ListView::RowCount() const { return int(SendMessageW(window_, LVM_GETITEMCOUNT, 0, 0)); }

std::wstring ListView::Cell(int row, int column) const {
    // The control answers the length it copied; a full buffer may mean the text was cut.
    for (size_t size = 256;; size *= 4) {
        std::vector<wchar_t> buffer(size);
        LVITEMW cell{};
        cell.iSubItem = column;
        cell.pszText = buffer.data();
        cell.cchTextMax = int(size);
        size_t length = size_t(SendMessageW(window_, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell)));
        if (length + 1 < size || size >= 65536) return std::wstring(buffer.data(), std::min(length, size - 1));
    }
}

void ListView::AutoWidth(bool content) {
    int columns = ColumnCount();
    for (int column = 0; column < columns; ++column) {
        SendMessageW(window_, LVM_SETCOLUMNWIDTH, column, LVSCW_AUTOSIZE_USEHEADER);
        if (!content) continue;
        int header = int(SendMessageW(window_, LVM_GETCOLUMNWIDTH, column, 0));
        SendMessageW(window_, LVM_SETCOLUMNWIDTH, column, LVSCW_AUTOSIZE);
        int cells = int(SendMessageW(window_, LVM_GETCOLUMNWIDTH, column, 0));
        if (cells < header) SendMessageW(window_, LVM_SETCOLUMNWIDTH, column, header);
    }
}

ListRows::ListRows(HWND list, const std::vector<std::wstring>& titles)
    : list_(list), parent_(list ? GetParent(list) : nullptr) {
    if (parent_ && !SetWindowSubclass(parent_, Subclass, reinterpret_cast<UINT_PTR>(this), reinterpret_cast<DWORD_PTR>(this)))
        parent_ = nullptr;
    for (const std::wstring& title : titles) list_.AddColumn(title);
    // Sizing a column to its cells makes the control measure every row; it is asked once here, with
    // the list empty, what it makes of the headers and what it adds to a cell's text, and the widths
    // are worked out from then on. A one-row list is measured for that, and emptied again.
    HWND window = list_.Window();
    const Row probe(titles.size(), L"0");
    const std::vector<LONG> probeWidths = TextWidths({probe});
    for (size_t column = 0; column < titles.size(); ++column) {
        SendMessageW(window, LVM_SETCOLUMNWIDTH, column, LVSCW_AUTOSIZE_USEHEADER);
        headerWidths_.push_back(int(SendMessageW(window, LVM_GETCOLUMNWIDTH, column, 0)));
    }
    measured_ = &probe;
    SetCount(1);
    for (size_t column = 0; column < titles.size(); ++column) {
        SendMessageW(window, LVM_SETCOLUMNWIDTH, column, LVSCW_AUTOSIZE);
        paddings_.push_back(int(SendMessageW(window, LVM_GETCOLUMNWIDTH, column, 0)) - int(probeWidths[column]));
    }
    measured_ = nullptr;
    SetCount(0);
    AutoWidth(false);
}

ListRows::~ListRows() {
    if (parent_ && IsWindow(parent_)) RemoveWindowSubclass(parent_, Subclass, reinterpret_cast<UINT_PTR>(this));
}

void ListRows::Show(std::vector<Row> rows) {
    // Only the rows that changed are drawn again: a refresh that changed one count redraws one row.
    size_t first = 0, last = std::min(rows.size(), rows_.size());
    while (first < last && rows[first] == rows_[first]) ++first;
    while (last > first && rows[last - 1] == rows_[last - 1]) --last;
    rows_ = std::move(rows);
    HWND window = list_.Window();
    // As a list filled anew: no row selected or focused, the first row at the top. Each step is taken
    // only where needed, since the control redraws its scroll bars at every change of its count.
    LVITEMW none{};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    for (UINT which : {LVNI_SELECTED, LVNI_FOCUSED}) {
        const int row = int(SendMessageW(window, LVM_GETNEXTITEM, WPARAM(-1), which));
        if (row >= 0) SendMessageW(window, LVM_SETITEMSTATE, WPARAM(row), reinterpret_cast<LPARAM>(&none));
    }
    SendMessageW(window, LVM_SETSELECTIONMARK, 0, -1);
    if (list_.RowCount() != int(rows_.size()))
        SetCount(int(rows_.size()));
    else if (first < last)
        SendMessageW(window, LVM_REDRAWITEMS, first, last - 1);
    if (SendMessageW(window, LVM_GETTOPINDEX, 0, 0) > 0) SendMessageW(window, LVM_ENSUREVISIBLE, 0, FALSE);
    if (const int left = GetScrollPos(window, SB_HORZ); left > 0) SendMessageW(window, LVM_SCROLL, WPARAM(-left), 0);
}

void ListRows::SetCount(int count) { SendMessageW(list_.Window(), LVM_SETITEMCOUNT, WPARAM(count), 0); }

std::vector<LONG> ListRows::TextWidths(const std::vector<Row>& rows) const {
    std::vector<LONG> widths(size_t(std::max(0, list_.ColumnCount())), -1);
    HWND window = list_.Window();
    HDC dc = GetDC(window);
    auto font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
    HGDIOBJ previous = SelectObject(dc, font ? font : GetStockObject(DEFAULT_GUI_FONT));
    for (const Row& row : rows)
        for (size_t column = 0; column < widths.size() && column < row.size(); ++column) {
            SIZE size{};
            if (GetTextExtentPoint32W(dc, row[column].c_str(), int(row[column].size()), &size))
                widths[column] = std::max(widths[column], size.cx);
        }
    SelectObject(dc, previous);
    ReleaseDC(window, dc);
    return widths;
}

void ListRows::AutoWidth(bool content) {
    // As ListView::AutoWidth: each column as wide as its header and, with `content`, its widest cell
    // as the control would size it; the last one also fills what is left of the list's width.
    HWND window = list_.Window();
    const std::vector<LONG> cells = content ? TextWidths(rows_) : std::vector<LONG>(headerWidths_.size(), -1);
    for (size_t column = 0; column < headerWidths_.size(); ++column) {
        int width = headerWidths_[column];
        if (column + 1 == headerWidths_.size()) {
            SendMessageW(window, LVM_SETCOLUMNWIDTH, column, LVSCW_AUTOSIZE_USEHEADER);
            width = int(SendMessageW(window, LVM_GETCOLUMNWIDTH, column, 0));
        }
        if (column < cells.size() && cells[column] >= 0) width = std::max(width, int(cells[column]) + paddings_[column]);
        if (width != int(SendMessageW(window, LVM_GETCOLUMNWIDTH, column, 0)))
            SendMessageW(window, LVM_SETCOLUMNWIDTH, column, width);
    }
}

const std::wstring* ListRows::CellText(int row, int column) const {
    const Row* cells = measured_ ? (row == 0 ? measured_ : nullptr) : row >= 0 && size_t(row) < rows_.size() ? &rows_[size_t(row)] : nullptr;
    return cells && column >= 0 && size_t(column) < cells->size() ? &(*cells)[size_t(column)] : nullptr;
}

// Typing in the list looks for the row whose first cell starts with what was typed, as in a list
// that holds its rows.
int ListRows::Find(const NMLVFINDITEMW& find) const {
    if (!(find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) || !find.lvfi.psz) return -1;
    const std::wstring wanted = find.lvfi.psz;
    const int count = int(rows_.size());
    const int start = std::clamp(find.iStart, 0, count);
    for (int step = 0; step < count; ++step) {
        const int row = start + step < count ? start + step : start + step - count;
        if (row < start && !(find.lvfi.flags & LVFI_WRAP)) break;
        const std::wstring* text = CellText(row, 0);
        if (!text) continue;
        if (EqualNoCase(find.lvfi.flags & LVFI_PARTIAL ? text->substr(0, wanted.size()) : *text, wanted)) return row;
    }
    return -1;
}

LRESULT CALLBACK ListRows::Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    auto* self = reinterpret_cast<ListRows*>(data);
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (message != WM_NOTIFY || !header || header->hwndFrom != self->list_.Window())
        return DefSubclassProc(window, message, wParam, lParam);
    switch (header->code) {
    case LVN_GETDISPINFOW: {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(lParam)->item;
        if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
            const std::wstring* text = self->CellText(item.iItem, item.iSubItem);
            lstrcpynW(item.pszText, text ? text->c_str() : L"", item.cchTextMax);
        }
        return 0;
    }
    case LVN_GETDISPINFOA: {  // a parent made as an ANSI window
        LVITEMA& item = reinterpret_cast<NMLVDISPINFOA*>(lParam)->item;
        if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
            const std::wstring* text = self->CellText(item.iItem, item.iSubItem);
            lstrcpynA(item.pszText, text ? Narrow(*text).c_str() : "", item.cchTextMax);
        }
        return 0;
    }
    case LVN_ODFINDITEMW: return self->Find(*reinterpret_cast<NMLVFINDITEMW*>(lParam));
    case LVN_ODFINDITEMA: {
        const auto& asked = *reinterpret_cast<NMLVFINDITEMA*>(lParam);
        const std::wstring wanted = asked.lvfi.psz ? Widen(asked.lvfi.psz) : L"";
        NMLVFINDITEMW find{};
        find.iStart = asked.iStart;
        find.lvfi.flags = asked.lvfi.flags;
        find.lvfi.psz = asked.lvfi.psz ? wanted.c_str() : nullptr;
        return self->Find(find);
    }
    default:
        return DefSubclassProc(window, message, wParam, lParam);
    }
}
