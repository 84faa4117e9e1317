#include "platform/stop_signals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace ormbrook {

namespace {

// The write end of the pipe the handler writes the signal number into; a
// signal handler may do little more than that.
int g_signalPipe[2] = {-1, -1};

void OnSignal(int signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

StopSignals::StopSignals(std::function<void(int)> onStop, QObject* parent)
    : QObject(parent), onStop_(std::move(onStop))
{
    if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Drain(); });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

StopSignals::~StopSignals()
{
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
}

void StopSignals::Drain()
{
    unsigned char byte = 0;
    while (::read(g_signalPipe[0], &byte, 1) == 1)
        onStop_(byte);
}

} // namespace ormbrook
