#include "net/HttpAbort.h"

#include <algorithm>

#include "net/HttpExchange.h"

namespace orivanta {

void HttpAbort::Abort() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!aborted_) abortedAt_ = std::chrono::steady_clock::now();
    aborted_ = true;
    for (HttpExchange* exchange : open_) exchange->CloseHandles();
}

bool HttpAbort::aborted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return aborted_;
}

std::chrono::steady_clock::time_point HttpAbort::abortedAt() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return abortedAt_;
}

bool HttpAbort::Enter(HttpExchange& exchange, const std::function<void()>& takeHandles) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (aborted_) return false;
    takeHandles();
    open_.push_back(&exchange);
    return true;
}

void HttpAbort::Leave(HttpExchange& exchange) {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.erase(std::remove(open_.begin(), open_.end(), &exchange), open_.end());
}

}  // namespace orivanta
