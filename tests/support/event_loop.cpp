#include "support/event_loop.h"

#include "engine/ws_event_window.h"
#include "engine/ws_registry.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace ormbrook::test {

bool RunUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

void RunFor(int ms)
{
    RunUntil([] { return false; }, ms);
}

EventWindowScope::EventWindowScope() : ok_(WSEventWindow::CreateEventWindow()) {}

EventWindowScope::~EventWindowScope()
{
    if (ok_)
        WSEventWindow::DestroyEventWindow();
    SocketRegistry::Instance().Clear();
}

} // namespace ormbrook::test
