#pragma once
// Which object waits for which socket or lookup task. Completions find their
// object here; one that finds nothing is dropped, which is what makes a late
// event for a closed socket harmless.

#include "platform/host_resolver.h"

#include <cstdint>
#include <unordered_map>

namespace ormbrook {

enum WSEventKind : int {
    WSKindLookup = 0,
    WSKindSocket = 1,
};

// The object end of a registry entry.
class WSEventTarget {
public:
    virtual ~WSEventTarget() = default;
    // Readiness of a socket (epoll event bits).
    virtual void OnSocketReady(uint32_t events) { (void)events; }
    // The answer of a lookup task.
    virtual void OnLookupAnswer(const LookupAnswer& answer) { (void)answer; }
};

inline constexpr const char* kWinsockFatalTitle = "Winsock Classes Fatal Error";
inline constexpr const char* kRegisterFailedText = "ソケットの登録に失敗しました。";
inline constexpr const char* kUnregisterFailedText = "ソケットの開放に失敗しました。";

// Process-wide, but only the engine thread touches it.
class SocketRegistry {
public:
    static SocketRegistry& Instance();

    // A pair already present (or no memory) is a fatal fault: reported, and
    // the program ends. False only comes back under a test's fatal handler.
    bool Register(intptr_t handle, WSEventKind kind, WSEventTarget* object);
    // An absent pair is the same kind of fault.
    bool Unregister(intptr_t handle, WSEventKind kind);
    WSEventTarget* Find(intptr_t handle, WSEventKind kind) const;

    size_t Size() const { return entries_.size(); }
    void Clear() { entries_.clear(); }

private:
    struct Key {
        intptr_t handle;
        int kind;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        size_t operator()(const Key& k) const { return std::hash<intptr_t>()(k.handle) * 2 + size_t(k.kind); }
    };
    std::unordered_map<Key, WSEventTarget*, KeyHash> entries_;
};

} // namespace ormbrook
