// A first-in-first-out queue of owned items with a manual-reset event that is set while the queue
// holds items, and an optional window message posted when an item arrives in an empty queue.
#pragma once
#include <windows.h>
#include <deque>
#include <memory>

namespace MTSys {

template <class T> class MessageQueue {
public:
    MessageQueue() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) { InitializeCriticalSection(&lock_); }
    ~MessageQueue() {
        Clear();
        if (event_) CloseHandle(event_);
        DeleteCriticalSection(&lock_);
    }
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    void SetNotify(HWND window, UINT message) {
        Guard guard(lock_);
        window_ = window;
        message_ = message;
    }
    void Clear() {
        Guard guard(lock_);
        items_.clear();
        if (event_) ResetEvent(event_);
    }
    void Put(std::unique_ptr<T> item) {
        Guard guard(lock_);
        bool wasEmpty = items_.empty();
        items_.push_back(std::move(item));
        if (event_) SetEvent(event_);
        if (wasEmpty && message_ != 0 && window_ && IsWindow(window_)) PostMessageA(window_, message_, 0, 0);
    }
    // The first item, or null when the queue is empty.
    std::unique_ptr<T> Get() {
        Guard guard(lock_);
        std::unique_ptr<T> item;
        if (!items_.empty()) {
            item = std::move(items_.front());
            items_.pop_front();
        }
        if (items_.empty() && event_) ResetEvent(event_);
        return item;
    }
    HANDLE GetEvent() const { return event_; }

private:
    struct Guard {
        explicit Guard(CRITICAL_SECTION& s) : s_(s) { EnterCriticalSection(&s_); }
        ~Guard() { LeaveCriticalSection(&s_); }
        CRITICAL_SECTION& s_;
    };
    CRITICAL_SECTION lock_;
    std::deque<std::unique_ptr<T>> items_;
    HANDLE event_;
    HWND window_ = nullptr;
    UINT message_ = 0;
};

}  // namespace MTSys
