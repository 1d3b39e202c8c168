// A first-in-first-out queue of owned items with a manual-reset event that is set while the queue
// holds items, and an optional window message posted when an item arrives in an empty queue.
#pragma once
#include "MTSys/MTSys.h"
#include <deque>
#include <memory>

namespace MTSys {

template <class T> class MessageQueue {
public:
    MessageQueue() : event_(true, false) { InitializeCriticalSection(&lock_); }
    virtual ~MessageQueue() {
        Clear();
        DeleteCriticalSection(&lock_);
    }
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    // A message number of 0 or a null window posts nothing.
    void SetNotify(HWND window, UINT message) {
        Lock guard(lock_);
        window_ = window;
        message_ = message;
    }
    void Clear() {
        std::deque<std::unique_ptr<T>> dropped;
        {
            Lock guard(lock_);
            dropped.swap(items_);
            ResetEvent(event_.Get());
        }
        // The items die outside the lock: their destructors are not ours.
    }
    void Put(std::unique_ptr<T> item) {
        Lock guard(lock_);
        bool wasEmpty = items_.empty();
        items_.push_back(std::move(item));
        SetEvent(event_.Get());
        if (wasEmpty && message_ != 0 && window_ && IsWindow(window_)) PostMessageA(window_, message_, 0, 0);
    }
    // The first item, or null when the queue is empty.
    std::unique_ptr<T> Get() {
        Lock guard(lock_);
        std::unique_ptr<T> item;
        if (!items_.empty()) {
            item = std::move(items_.front());
            items_.pop_front();
        }
        if (items_.empty()) ResetEvent(event_.Get());
        return item;
    }
    // Set while the queue holds items.
    HANDLE GetEvent() const { return event_.Get(); }

private:
    CRITICAL_SECTION lock_;
    std::deque<std::unique_ptr<T>> items_;
    Event event_;
    HWND window_ = nullptr;
    UINT message_ = 0;
};

}  // namespace MTSys
