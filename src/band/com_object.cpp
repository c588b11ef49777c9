// Reference counting, aggregation and interface lookup of the server's COM objects.
#include "band/com_object.h"

#include "band/com_server.h"

namespace fetchora {

using namespace com;

TComObject::TComObject(IUnknown* outer) : inner_(*this), outer_(outer) {
    ComServer().CountObject(true);
}

TComObject::~TComObject() {
    ComServer().CountObject(false);
}

HRESULT TComObject::QueryInterface(const IID& iid, void** object) {
    if (outer_ != nullptr)
        return outer_->QueryInterface(iid, object);
    return ObjQueryInterface(iid, object);
}

ULONG TComObject::AddRef() {
    if (outer_ != nullptr)
        return outer_->AddRef();
    return ObjAddRef();
}

ULONG TComObject::Release() {
    if (outer_ != nullptr)
        return outer_->Release();
    return ObjRelease();
}

HRESULT TComObject::InterfaceSupportsErrorInfo(const IID& iid) {
    return findInterface(iid) != nullptr ? S_OK : S_FALSE;
}

HRESULT TComObject::ObjQueryInterface(const IID& iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    IUnknown* found = findInterface(iid);
    if (found == nullptr)
        return E_NOINTERFACE;
    found->AddRef();
    *object = found;
    return S_OK;
}

ULONG TComObject::ObjAddRef() {
    return static_cast<ULONG>(InterlockedIncrement(refCount_));
}

ULONG TComObject::ObjRelease() {
    const LONG count = InterlockedDecrement(refCount_);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count < 0 ? 0 : count);
}

IUnknown* TComObject::controllingUnknown() {
    if (outer_ != nullptr)
        return outer_;
    return static_cast<ISupportErrorInfo*>(this);
}

void TComObject::addInterface(const IID& iid, IUnknown* pointer) {
    interfaces_.emplace_back(iid, pointer);
}

IUnknown* TComObject::findInterface(const IID& iid) {
    if (iid == IID_IUnknown) {
        // Inside an aggregate the outer object asks for the object's own IUnknown.
        if (outer_ != nullptr)
            return &inner_;
        return static_cast<ISupportErrorInfo*>(this);
    }
    if (iid == IID_ISupportErrorInfo)
        return static_cast<ISupportErrorInfo*>(this);
    for (const auto& [entry, pointer] : interfaces_) {
        if (entry == iid)
            return pointer;
    }
    return nullptr;
}

} // namespace fetchora
