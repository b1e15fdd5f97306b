#pragma once
#include <functional>

class QThread;

// Waits for work on other threads while the interface stays alive: runs a local
// event loop until done() holds, calling eachTurn() first on every turn. A turn
// comes every few milliseconds and at once when `worker` finishes.
void waitUntil(const std::function<bool()>& done, const std::function<void()>& eachTurn = {},
               const QThread* worker = nullptr);

// Starts the worker with the interface thread's priority and waits as above,
// showing its progress on every turn.
void runWatched(QThread* worker, const std::function<bool()>& done, const std::function<void()>& showProgress);
