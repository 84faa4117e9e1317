#pragma once
// Environment variables set for the length of a test and put back after it,
// and the private per-user folders that code under test reads: the runtime
// folder (locks, channels, shared blocks), the settings and the program
// folder. No test meets the user's own settings or running programs.

#include "support/scratch_dir.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace ormbrook::test {

class EnvScope {
public:
    EnvScope(const char* name, const std::string& value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvScope()
    {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// XDG_RUNTIME_DIR in a scratch folder.
class RuntimeScope {
public:
    RuntimeScope() : env_("XDG_RUNTIME_DIR", dir_.path()) {}
    std::string path() const { return dir_.path(); }

private:
    ScratchDir dir_;
    EnvScope env_;
};

// XDG_RUNTIME_DIR, XDG_CONFIG_HOME and XDG_DATA_HOME in one scratch folder.
class UserScope {
public:
    UserScope()
        : runtime_("XDG_RUNTIME_DIR", dir_.file("run")), config_("XDG_CONFIG_HOME", dir_.file("config")),
          data_("XDG_DATA_HOME", dir_.file("data"))
    {
        for (const char* sub : {"run", "config", "data"})
            std::filesystem::create_directories(dir_.file(sub));
        std::filesystem::permissions(dir_.file("run"), std::filesystem::perms::owner_all);
    }
    std::string path() const { return dir_.path(); }
    std::string runtime() const { return dir_.file("run"); }
    std::string config() const { return dir_.file("config"); }
    std::string data() const { return dir_.file("data"); }
    // Where the settings file lives.
    std::string settingsFile() const { return dir_.file("config/Nordvane/Ormbrook.ini"); }
    // The program folder ("WP.lst", "QRY.ssf", "QRYWP.bmp").
    std::string programFolder() const { return dir_.file("data/Ormbrook/"); }

private:
    ScratchDir dir_;
    EnvScope runtime_;
    EnvScope config_;
    EnvScope data_;
};

} // namespace ormbrook::test
