// The server object's factory list and counts.
#include "band/com_server.h"

#include "band/com_object_factory.h"

namespace fetchora {

TComServer::TComServer() = default;
TComServer::~TComServer() = default;

void TComServer::addFactory(std::unique_ptr<TComObjectFactory> factory) {
    factories_.push_back(std::move(factory));
}

TComObjectFactory* TComServer::findFactory(const com::CLSID& classId) const {
    for (const auto& factory : factories_) {
        if (factory->classId() == classId)
            return factory.get();
    }
    return nullptr;
}

com::LONG TComServer::CountObject(bool created) {
    return created ? com::InterlockedIncrement(objectCount_)
                   : com::InterlockedDecrement(objectCount_);
}

com::LONG TComServer::CountFactory(bool created) {
    return created ? com::InterlockedIncrement(factoryCount_)
                   : com::InterlockedDecrement(factoryCount_);
}

bool TComServer::canUnloadNow() const {
    return objectCount_.load() == 0 && factoryCount_.load() == 0;
}

void TComServer::UpdateRegistry(bool registering) {
    for (const auto& factory : factories_)
        factory->UpdateRegistry(registering);
}

TComServer& ComServer() {
    static TComServer server;
    return server;
}

} // namespace fetchora
