// Keeps controls of a window in place as it is resized: each rule ties one edge of a control to an
// edge of the window's client area or of another control, at the distance it had when the rules
// were made.
#pragma once
#include <windows.h>
#include <vector>

class AutoLayout {
public:
    enum Mode { Follow = 0, Move = 1 };  // the control's edge follows (resizes), or the control moves
    enum Edge { RightEdge = 2, BottomEdge = 3 };

    AutoLayout() = default;
    AutoLayout(const AutoLayout&) = delete;
    AutoLayout& operator=(const AutoLayout&) = delete;
    ~AutoLayout();

    // Watches `window` for size changes from now on; rules added later measure against it.
    void Attach(HWND window);
    // `reference` 0 is the window itself, else a control id. Rules run in the order added, so a
    // control that is a reference gets its rules first.
    void Add(int control, Mode mode, Edge edge, int reference, Edge referenceEdge);
    // Places every control by the rules for the window's present size.
    void Apply();

private:
    struct Rule {
        int control;
        Mode mode;
        Edge edge;
        int reference;
        Edge referenceEdge;
        int distance;  // reference edge minus control edge, in client pixels
    };
    bool EdgeOf(int control, Edge edge, int& position) const;
    static LRESULT CALLBACK Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data);
    void Detach();

    HWND window_ = nullptr;
    std::vector<Rule> rules_;
};
