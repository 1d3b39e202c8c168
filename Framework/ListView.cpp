#include "Framework/ListView.h"
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

void ListView::Clear() { SendMessageW(window_, LVM_DELETEALLITEMS, 0, 0); }

int ListView::AddRow(const std::vector<std::wstring>& cells) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = RowCount();
    item.pszText = const_cast<wchar_t*>(cells.empty() ? L"" : cells[0].c_str());
    int row = int(SendMessageW(window_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0) return row;
    int columns = ColumnCount();
    for (size_t i = 1; i < cells.size() && int(i) < columns; ++i) {
        LVITEMW cell{};
        cell.iSubItem = int(i);
        cell.pszText = const_cast<wchar_t*>(cells[i].c_str());
        SendMessageW(window_, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell));
    }
    return row;
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

ListView::Batch::Batch(const ListView& list) : window_(list.Window()) { SendMessageW(window_, WM_SETREDRAW, FALSE, 0); }

ListView::Batch::~Batch() {
    SendMessageW(window_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(window_, nullptr, TRUE);
}
