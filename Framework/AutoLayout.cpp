#include "Framework/AutoLayout.h"
#include <commctrl.h>

namespace {
constexpr UINT_PTR kSubclassId = 0x4C41;  // "AL"
}

AutoLayout::~AutoLayout() { Detach(); }

void AutoLayout::Attach(HWND window) {
    Detach();
    rules_.clear();
    if (!window || !SetWindowSubclass(window, Subclass, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) return;
    window_ = window;
}

void AutoLayout::Detach() {
    if (window_ && IsWindow(window_)) RemoveWindowSubclass(window_, Subclass, kSubclassId);
    window_ = nullptr;
}

bool AutoLayout::EdgeOf(int control, Edge edge, int& position) const {
    RECT rect{};
    if (control == 0) {
        if (!GetClientRect(window_, &rect)) return false;
    } else {
        HWND child = GetDlgItem(window_, control);
        if (!child || !GetWindowRect(child, &rect)) return false;
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&rect), 2);
    }
    position = edge == RightEdge ? rect.right : rect.bottom;
    return true;
}

void AutoLayout::Add(int control, Mode mode, Edge edge, int reference, Edge referenceEdge) {
    int own = 0, other = 0;
    if (!window_ || !EdgeOf(control, edge, own) || !EdgeOf(reference, referenceEdge, other)) return;
    rules_.push_back({control, mode, edge, reference, referenceEdge, other - own});
}

void AutoLayout::Apply() {
    if (!window_) return;
    for (const Rule& rule : rules_) {
        HWND child = GetDlgItem(window_, rule.control);
        int reference = 0;
        RECT rect{};
        if (!child || !EdgeOf(rule.reference, rule.referenceEdge, reference) || !GetWindowRect(child, &rect)) continue;
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&rect), 2);
        LONG& edge = rule.edge == RightEdge ? rect.right : rect.bottom;
        LONG& start = rule.edge == RightEdge ? rect.left : rect.top;
        int shift = reference - rule.distance - edge;
        if (shift == 0) continue;
        if (rule.mode == Move) start += shift;
        edge += shift;
        if (edge < start) edge = start;
        SetWindowPos(child, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    InvalidateRect(window_, nullptr, TRUE);
}

LRESULT CALLBACK AutoLayout::Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    auto* layout = reinterpret_cast<AutoLayout*>(data);
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, Subclass, kSubclassId);
        layout->window_ = nullptr;
    }
    LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    if (message == WM_SIZE && wParam != SIZE_MINIMIZED) layout->Apply();
    return result;
}
