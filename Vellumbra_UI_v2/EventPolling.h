#pragma once
#include <functional>

// Runs the interface thread's events while busy() holds, calling eachTurn() first
// on every turn. Between turns the thread sleeps until an event arrives or a
// short wake-up timer fires, so a watched worker keeps its core to itself.
void processEventsWhile(const std::function<bool()>& busy, const std::function<void()>& eachTurn = {});
