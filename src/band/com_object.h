// TComObject: the common base of the server's COM objects. It counts references from 0,
// answers the interfaces its class enters in its lookup table, takes part in an
// aggregate (every IUnknown call then goes to the outer object, and the outer object
// holds the object's own, non-delegating IUnknown), and supplies ISupportErrorInfo.
#pragma once

#include "platform/com/com.h"
#include "platform/com/ole_interfaces.h"

#include <atomic>
#include <utility>
#include <vector>

namespace fetchora {

class TComObject : public com::ISupportErrorInfo {
public:
    // outer is the controlling unknown when the object is made as part of an aggregate.
    explicit TComObject(com::IUnknown* outer = nullptr);
    virtual ~TComObject();
    TComObject(const TComObject&) = delete;
    TComObject& operator=(const TComObject&) = delete;

    // IUnknown of every interface: the outer object's when aggregated, else the object's
    // own.
    com::HRESULT QueryInterface(const com::IID& iid, void** object) override;
    com::ULONG AddRef() override;
    com::ULONG Release() override;

    // ISupportErrorInfo: S_OK for an interface the object answers, S_FALSE otherwise.
    com::HRESULT InterfaceSupportsErrorInfo(const com::IID& iid) override;

    // The object's own IUnknown calls, never delegated. ObjRelease destroys the object
    // when the count reaches 0.
    com::HRESULT ObjQueryInterface(const com::IID& iid, void** object);
    com::ULONG ObjAddRef();
    com::ULONG ObjRelease();

    // The object's identity: the outer object when aggregated, else its own IUnknown.
    com::IUnknown* controllingUnknown();
    com::ULONG refCount() const { return static_cast<com::ULONG>(refCount_.load()); }

protected:
    // Enters an interface of the object in its lookup table.
    void addInterface(const com::IID& iid, com::IUnknown* pointer);

private:
    // The non-delegating IUnknown that an outer object holds.
    class InnerUnknown final : public com::IUnknown {
    public:
        explicit InnerUnknown(TComObject& owner) : owner_(owner) {}
        com::HRESULT QueryInterface(const com::IID& iid, void** object) override {
            return owner_.ObjQueryInterface(iid, object);
        }
        com::ULONG AddRef() override { return owner_.ObjAddRef(); }
        com::ULONG Release() override { return owner_.ObjRelease(); }

    private:
        TComObject& owner_;
    };

    com::IUnknown* findInterface(const com::IID& iid);

    InnerUnknown inner_;
    std::atomic<com::LONG> refCount_{0};
    com::IUnknown* outer_;
    std::vector<std::pair<com::IID, com::IUnknown*>> interfaces_;
};

} // namespace fetchora
