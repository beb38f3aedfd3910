#pragma once

#include <chrono>
#include <thread>

// Asks `done` until it says true or `timeout` has passed, pausing `interval` between asks;
// asks at least once, and once more at the deadline. Returns its last answer.
template <typename Done>
bool waitUntil(std::chrono::milliseconds timeout, Done&& done,
               std::chrono::milliseconds interval = std::chrono::milliseconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(interval);
    }
    return true;
}
