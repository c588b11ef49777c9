// The in-process server object: the list of class factories and the counts that decide
// whether the library may be unloaded (live objects and server locks, and client
// references to the factories). The counts change with interlocked operations.
#pragma once

#include "platform/com/com.h"

#include <atomic>
#include <memory>
#include <vector>

namespace fetchora {

class TComObjectFactory;

class TComServer final {
public:
    TComServer();
    ~TComServer();
    TComServer(const TComServer&) = delete;
    TComServer& operator=(const TComServer&) = delete;

    // Takes the factory into the list; the server frees it when it goes.
    void addFactory(std::unique_ptr<TComObjectFactory> factory);
    // The factory of the class classId, or null.
    TComObjectFactory* findFactory(const com::CLSID& classId) const;
    const std::vector<std::unique_ptr<TComObjectFactory>>& factories() const { return factories_; }

    // One object (or server lock) more or less; returns the count after the change.
    com::LONG CountObject(bool created);
    // One client reference to a factory more or less; returns the count after the change.
    com::LONG CountFactory(bool created);
    com::LONG objectCount() const { return objectCount_.load(); }
    com::LONG factoryCount() const { return factoryCount_.load(); }

    // No object, no server lock and no client reference to a factory remain.
    bool canUnloadNow() const;

    // Registers (or unregisters) every factory's class; an error of any one raises.
    void UpdateRegistry(bool registering);

private:
    std::vector<std::unique_ptr<TComObjectFactory>> factories_;
    std::atomic<com::LONG> objectCount_{0};
    std::atomic<com::LONG> factoryCount_{0};
};

// The library's one server object, made on first use (when the library is loaded).
TComServer& ComServer();

} // namespace fetchora
