#pragma once
// A host resolver that answers from a table, after `delayMs`, on the event
// loop of the asking thread. Names not in the table are not found.

#include "platform/host_resolver.h"

#include <QPointer>
#include <QTimer>

#include <map>
#include <string>
#include <vector>

namespace ormbrook::test {

class FakeResolver : public HostResolver {
public:
    ~FakeResolver() override;

    void SetAnswer(const std::string& name, LookupAnswer answer) { answers_[name] = std::move(answer); }
    // Answers wait this long; a large value keeps a lookup running.
    int delayMs = 0;

    int Start(const std::string& name, QObject* context, Done done) override;
    void Abort(int task) override;

    std::vector<std::string> asked;
    std::vector<int> aborted;

private:
    std::map<std::string, LookupAnswer> answers_;
    std::map<int, QPointer<QTimer>> pending_;
    int nextTask_ = 1000;
};

} // namespace ormbrook::test
