// TComObjectFactory: the class factory of one COM class of the server. It makes the
// class's objects (refusing aggregation unless IUnknown is asked for), counts client
// references and server locks for the unload decision without ever destroying itself,
// and writes or removes the general registry entries of its class.
#pragma once

#include "platform/com/com.h"
#include "platform/com/ole_interfaces.h"

#include <atomic>
#include <string>

namespace fetchora {

class TComObject;

// A new object for every creation request, or one shared object.
enum class Instancing { Single, Multiple };
// The threading model the factory's own registration writes; Single writes none.
enum class ThreadingModel { Single, Apartment };

class TComObjectFactory : public com::IClassFactory {
public:
    TComObjectFactory(const com::CLSID& classId, std::string className, std::string description,
                      Instancing instancing, ThreadingModel threadingModel);
    virtual ~TComObjectFactory();
    TComObjectFactory(const TComObjectFactory&) = delete;
    TComObjectFactory& operator=(const TComObjectFactory&) = delete;

    // IUnknown: IClassFactory and IUnknown. AddRef and Release count client references
    // in the server object and never destroy the factory, which the server owns.
    com::HRESULT QueryInterface(const com::IID& iid, void** object) override;
    com::ULONG AddRef() override;
    com::ULONG Release() override;

    // IClassFactory.
    com::HRESULT CreateInstance(com::IUnknown* outer, const com::IID& iid, void** object) override;
    com::HRESULT LockServer(com::BOOL lock) override;

    const com::CLSID& classId() const { return classId_; }
    const std::string& className() const { return className_; }
    const std::string& description() const { return description_; }
    Instancing instancing() const { return instancing_; }
    ThreadingModel threadingModel() const { return threadingModel_; }
    com::LONG lockCount() const { return lockCount_.load(); }

    // Registers the class under HKEY_CLASSES_ROOT\CLSID (registering) or removes it.
    // Raises Error "Error creating system registry entry" when a key or value cannot be
    // written.
    virtual void UpdateRegistry(bool registering);

protected:
    // A new object of the class, counted 0; outer is the controlling unknown of an
    // aggregate, or null. May raise.
    virtual TComObject* CreateComObject(com::IUnknown* outer) = 0;

private:
    com::CLSID classId_;
    std::string className_;
    std::string description_;
    Instancing instancing_;
    ThreadingModel threadingModel_;
    std::atomic<com::LONG> clientRefs_{0};
    std::atomic<com::LONG> lockCount_{0};
};

// The message and title of a registry entry that could not be written.
inline constexpr const char* kRegistryEntryError = "Error creating system registry entry";

// "CLSID\{...}" for classId.
std::string classKey(const com::CLSID& classId);

} // namespace fetchora
