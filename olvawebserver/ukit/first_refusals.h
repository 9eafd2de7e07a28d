// The refusals logged so far, so that a page or an account that retries is
// logged once however often it comes back. The memory is bounded: once
// Limit keys are held, later new ones are refused without a line.
#pragma once

#include <cstddef>
#include <functional>
#include <set>

namespace web {

template <class Key, std::size_t Limit>
class FirstRefusals {
public:
    static constexpr std::size_t kMaxRemembered = Limit;

    // True the first time key is refused.
    template <class Seen>
    bool first_refusal(const Seen& key)
    {
        if (refused_.contains(key) || refused_.size() >= Limit)
            return false;
        refused_.emplace(key);
        return true;
    }

private:
    std::set<Key, std::less<>> refused_;
};

}  // namespace web
