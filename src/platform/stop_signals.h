#pragma once
// SIGINT and SIGTERM turned into a call on the main thread's event loop, so
// that a headless run can stop its crawl the way the stop command does and
// leave everything resumable.

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace ormbrook {

class StopSignals : public QObject {
public:
    // `onStop` runs on this object's thread for every SIGINT or SIGTERM.
    explicit StopSignals(std::function<void(int signal)> onStop, QObject* parent = nullptr);
    ~StopSignals() override;

    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool ok() const { return notifier_ != nullptr; }

private:
    void Drain();

    std::function<void(int)> onStop_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace ormbrook
