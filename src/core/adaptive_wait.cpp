#include "core/adaptive_wait.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "platform/net.h"

namespace doorlink::core {

void RetransmissionTimeout::measured(uint32_t roundTripMs) {
    const double sample = roundTripMs;
    if (measured_) {
        variation_ = 0.75 * variation_ + 0.25 * std::fabs(smoothed_ - sample);
        smoothed_ = 0.875 * smoothed_ + 0.125 * sample;
    } else {
        smoothed_ = sample;
        variation_ = sample / 2;
        measured_ = true;
    }
    backoffs_ = 0;
}

int RetransmissionTimeout::timeout_ms(int minimumMs) const {
    const double computed = measured_ ? std::ceil(smoothed_ + 4 * variation_) : kInitialResendTimeoutMs;
    const double backedOff = std::max(computed, static_cast<double>(minimumMs)) * (1 << backoffs_);
    return static_cast<int>(std::min(backedOff, static_cast<double>(kMaxResendTimeoutMs)));
}

bool is_dotted_ipv4(const char* text) {
    if (!text) return false;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && *text++ != '.') return false;
        int value = 0;
        int digits = 0;
        for (; *text >= '0' && *text <= '9'; ++text) {
            if (++digits > 3) return false;
            value = value * 10 + (*text - '0');
        }
        if (digits == 0 || value > 255) return false;
    }
    return *text == '\0';
}

bool AdaptiveWaits::set(const char* address, int32_t minimumMs) {
    if (minimumMs < 0 || minimumMs > kMaxResendTimeoutMs) return false;
    if (address && !is_dotted_ipv4(address)) return false;
    std::lock_guard<platform::Mutex> guard(lock_);
    if (!address) {
        everyMinimumMs_ = minimumMs;
        minimums_.clear();
    } else {
        const uint32_t key = platform::ipv4_from_text(address);
        if (minimumMs == everyMinimumMs_) {
            minimums_.erase(key);
        } else if (minimums_.size() < kMaxAddressSettings || minimums_.count(key)) {
            minimums_[key] = minimumMs;
        } else {
            return false;
        }
    }
    update_any_on();
    return true;
}

void AdaptiveWaits::update_any_on() {
    const bool anyAddressOn =
        std::any_of(minimums_.begin(), minimums_.end(), [](const auto& entry) { return entry.second > 0; });
    anyOn_.store(everyMinimumMs_ > 0 || anyAddressOn, std::memory_order_release);
}

int AdaptiveWaits::minimum_ms(uint32_t address) const {
    if (!anyOn_.load(std::memory_order_acquire)) return 0;
    std::lock_guard<platform::Mutex> guard(lock_);
    auto found = minimums_.find(address);
    return found != minimums_.end() ? found->second : everyMinimumMs_;
}

RetransmissionTimeout& AdaptiveWaits::estimate(uint32_t address) {
    auto found = estimates_.find(address);
    if (found == estimates_.end()) {
        if (estimates_.size() >= kMaxEstimatedControllers) {
            estimates_.erase(std::min_element(
                estimates_.begin(), estimates_.end(),
                [](const auto& a, const auto& b) { return a.second.lastUse < b.second.lastUse; }));
        }
        found = estimates_.emplace(address, Estimate{}).first;
    }
    found->second.lastUse = ++uses_;
    return found->second.timeout;
}

int AdaptiveWaits::timeout_ms(uint32_t address, int minimumMs) {
    std::lock_guard<platform::Mutex> guard(lock_);
    return estimate(address).timeout_ms(minimumMs);
}

void AdaptiveWaits::timed_out(uint32_t address) {
    std::lock_guard<platform::Mutex> guard(lock_);
    estimate(address).timed_out();
}

void AdaptiveWaits::measured(uint32_t address, uint32_t roundTripMs) {
    std::lock_guard<platform::Mutex> guard(lock_);
    estimate(address).measured(roundTripMs);
}

}  // namespace doorlink::core
