// What an action throws, as text, for tests that check a refusal's words.
#pragma once

#include <exception>
#include <functional>
#include <string>

// The message of what action throws; "(nothing thrown)" when it throws none.
inline std::string message_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(nothing thrown)";
}
