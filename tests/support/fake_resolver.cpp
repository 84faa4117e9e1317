#include "support/fake_resolver.h"

#include "platform/ws_error.h"

namespace ormbrook::test {

FakeResolver::~FakeResolver()
{
    for (auto& [task, timer] : pending_)
        delete timer.data();
}

int FakeResolver::Start(const std::string& name, QObject* context, Done done)
{
    asked.push_back(name);
    const int task = nextTask_++;
    LookupAnswer answer;
    auto it = answers_.find(name);
    if (it != answers_.end())
        answer = it->second;
    else
        answer.error = WsaHostNotFound;
    auto* timer = new QTimer(context);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, context, [this, task, answer, done, timer] {
        pending_.erase(task);
        timer->deleteLater();
        done(task, answer);
    });
    timer->start(delayMs);
    pending_[task] = timer;
    return task;
}

void FakeResolver::Abort(int task)
{
    aborted.push_back(task);
    auto it = pending_.find(task);
    if (it != pending_.end()) {
        delete it->second.data();
        pending_.erase(it);
    }
}

} // namespace ormbrook::test
