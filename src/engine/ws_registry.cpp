#include "engine/ws_registry.h"

#include "platform/fatal_error.h"

#include <new>

namespace ormbrook {

SocketRegistry& SocketRegistry::Instance()
{
    static SocketRegistry registry;
    return registry;
}

bool SocketRegistry::Register(intptr_t handle, WSEventKind kind, WSEventTarget* object)
{
    bool inserted = false;
    try {
        inserted = entries_.emplace(Key{handle, kind}, object).second;
    } catch (const std::bad_alloc&) {
        inserted = false;
    }
    if (!inserted)
        ReportFatal(kWinsockFatalTitle, kRegisterFailedText);
    return inserted;
}

bool SocketRegistry::Unregister(intptr_t handle, WSEventKind kind)
{
    if (entries_.erase(Key{handle, kind}) == 0) {
        ReportFatal(kWinsockFatalTitle, kUnregisterFailedText);
        return false;
    }
    return true;
}

WSEventTarget* SocketRegistry::Find(intptr_t handle, WSEventKind kind) const
{
    auto it = entries_.find(Key{handle, kind});
    return it == entries_.end() ? nullptr : it->second;
}

} // namespace ormbrook
