#pragma once
// A temporary folder for one test, removed with everything in it at the end.

#include <QTemporaryDir>
#include <string>

namespace ormbrook::test {

class ScratchDir {
public:
    ScratchDir() { dir_.setAutoRemove(true); }
    // Absolute path with a final "/".
    std::string path() const { return dir_.path().toStdString() + "/"; }
    std::string file(const std::string& name) const { return path() + name; }

private:
    QTemporaryDir dir_;
};

} // namespace ormbrook::test
