#pragma once
// How worker threads reach widgets: the call is queued to the user-interface
// thread and the worker waits until it has run, as a window message sent to
// another thread would. On the user-interface thread the call runs at once.
// The user-interface thread itself never waits for a worker.

#include <functional>

void SendToUiThread(const std::function<void()>& call);

// True on the thread that runs the application's event loop.
bool IsUiThread();
