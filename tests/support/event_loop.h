#pragma once
// Helpers for tests that run engine objects on the test's own thread.

#include <functional>

namespace ormbrook::test {

// Runs the calling thread's event loop until `done` holds or `ms` pass.
bool RunUntil(const std::function<bool()>& done, int ms = 5000);
// Runs the event loop for `ms`.
void RunFor(int ms);

// Makes the socket layer's event window on the calling thread for the
// scope, as the engine thread does for itself.
class EventWindowScope {
public:
    EventWindowScope();
    ~EventWindowScope();
    bool ok() const { return ok_; }

private:
    bool ok_;
};

} // namespace ormbrook::test
