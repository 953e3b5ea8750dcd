#pragma once
// Records the library hands out as raw handles but owns: each lives in the
// list from its creation until its release.
#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

template <typename T>
class OwnedList {
 public:
  T *create() {
    std::lock_guard<std::mutex> g(lock_);
    items_.push_back(std::make_unique<T>());
    return items_.back().get();
  }
  void release(T *item) {
    std::unique_ptr<T> gone;  // destroyed after the lock is left
    std::lock_guard<std::mutex> g(lock_);
    auto it = std::find_if(items_.begin(), items_.end(), [&](const auto &p) { return p.get() == item; });
    if (it == items_.end()) return;
    gone = std::move(*it);
    items_.erase(it);
  }

 private:
  std::mutex lock_;
  std::vector<std::unique_ptr<T>> items_;
};
