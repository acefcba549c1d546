#pragma once
#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

namespace orivanta {

class HttpExchange;

// Lets the closing side break off a worker's network exchanges. Abort closes the
// WinHTTP handles of every exchange in progress, which makes a blocked call on
// them return on Windows (Wine's call runs on until its answer or time-out), and
// refuses every exchange opened later. An exchange starts no call on handles
// closed this way.
class HttpAbort {
public:
    void Abort();
    bool aborted() const;
    // When the first Abort came; meaningful only once aborted.
    std::chrono::steady_clock::time_point abortedAt() const;

private:
    friend class HttpExchange;
    // Registers the exchange and lets it take its opened handles under the lock,
    // so that an abort either finds them or came before. False, with nothing
    // taken, once aborted: the exchange must not go on.
    bool Enter(HttpExchange& exchange, const std::function<void()>& takeHandles);
    // After this the closing side no longer touches the exchange's handles.
    void Leave(HttpExchange& exchange);

    mutable std::mutex mutex_;
    bool aborted_ = false;
    std::chrono::steady_clock::time_point abortedAt_;
    std::vector<HttpExchange*> open_;
};

}  // namespace orivanta
