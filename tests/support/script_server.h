#pragma once
// A scripted HTTP-ish server for engine tests.
//
//   ScriptServer server({ReadHead(), Send("HTTP/1.0 200 OK\r\n\r\nhi"), Close()});
//   ... connect to 127.0.0.1:server.port() ...
//   server.WaitForConnections(1, 2000);
//   EXPECT_EQ(server.Received(0), "GET / HTTP/1.0\r\n...");
//
// It listens on a free port of 127.0.0.1 on its own thread and runs one
// script per accepted connection (scripts[i] for the i-th connection, the
// last script for any beyond). Each connection runs on its own thread, so
// scripts of parallel connections overlap. Everything a connection receives
// is recorded, whichever step is running. A script that ends without Close
// or Reset closes in order. The server stops by itself after `lifetimeMs`
// (every step gives up then too) and at destruction.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ormbrook::test {

struct Step {
    enum Kind { ReadHead, Send, SendFill, Pause, SendSlowly, KeepOpen, Close, Reset };
    Kind kind;
    std::string bytes;
    size_t count = 0; // SendFill: bytes; SendSlowly: bytes per write
    int ms = 0;       // Pause, KeepOpen: duration; SendSlowly: pause between writes
};

// Read until the blank line that ends a request head (or the peer closes).
inline Step ReadHead() { return {Step::ReadHead, {}, 0, 0}; }
inline Step Send(std::string bytes) { return {Step::Send, std::move(bytes), 0, 0}; }
// `count` bytes of FillPattern, written in large blocks (for big bodies).
inline Step SendFill(size_t count) { return {Step::SendFill, {}, count, 0}; }
inline Step Pause(int ms) { return {Step::Pause, {}, 0, ms}; }
inline Step SendSlowly(std::string bytes, size_t chunk, int everyMs) { return {Step::SendSlowly, std::move(bytes), chunk, everyMs}; }
// Hold the connection (recording what arrives) for `ms`, or until the peer closes.
inline Step KeepOpen(int ms) { return {Step::KeepOpen, {}, 0, ms}; }
// Orderly close: FIN, then wait briefly for the peer's close.
inline Step Close() { return {Step::Close, {}, 0, 0}; }
// Abortive close: the peer sees a reset.
inline Step Reset() { return {Step::Reset, {}, 0, 0}; }

using Script = std::vector<Step>;

// The bytes SendFill writes, from `offset` on: a repeating 251-byte cycle, so
// that a lost or doubled block shows.
std::string FillPattern(size_t offset, size_t count);

class ScriptServer {
public:
    explicit ScriptServer(Script script, int lifetimeMs = 20000);
    explicit ScriptServer(std::vector<Script> scripts, int lifetimeMs = 20000);
    ~ScriptServer();
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    uint16_t port() const { return port_; }
    size_t Connections() const;
    // What connection `i` received so far ("" when there is no such connection).
    std::string Received(size_t i) const;
    // Waits until `n` connections were accepted; false on time-out.
    bool WaitForConnections(size_t n, int ms) const;
    // Waits until connection `i` has finished its script.
    bool WaitForScriptEnd(size_t i, int ms) const;
    void Stop();

    // A loopback port on which nothing listens: connecting there is refused.
    static uint16_t UnusedPort();

private:
    void AcceptLoop();
    void RunScript(size_t index, int fd);
    bool Expired() const;

    std::vector<Script> scripts_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::chrono::steady_clock::time_point deadline_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> received_;
    std::vector<bool> finished_;
    std::vector<std::thread> connections_;
    std::thread acceptor_;
};

} // namespace ormbrook::test
