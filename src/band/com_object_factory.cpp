// Object creation, reference and lock counting, and the general class registration of
// the server's class factories.
#include "band/com_object_factory.h"

#include "band/com_object.h"
#include "band/com_server.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "util/library_path.h"

#include <exception>
#include <utility>

namespace fetchora {

using namespace com;
using namespace registry;

namespace {

// Creates key under HKEY_CLASSES_ROOT and sets its default value, raising the registry
// entry error when either fails.
void writeClassesRootDefault(const std::string& key, const std::string& value) {
    HKEY handle = nullptr;
    if (RegCreateKeyEx(HKEY_CLASSES_ROOT, key, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS)
        throw Error(kRegistryEntryError);
    const LONG result = RegSetValueEx(handle, "", REG_SZ, value);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS)
        throw Error(kRegistryEntryError);
}

// The text of an error that ended object creation.
std::string errorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

} // namespace

std::string classKey(const CLSID& classId) {
    return "CLSID\\" + guidToString(classId);
}

TComObjectFactory::TComObjectFactory(const CLSID& classId, std::string className,
                                     std::string description, Instancing instancing,
                                     ThreadingModel threadingModel)
    : classId_(classId), className_(std::move(className)), description_(std::move(description)),
      instancing_(instancing), threadingModel_(threadingModel) {}

TComObjectFactory::~TComObjectFactory() = default;

HRESULT TComObjectFactory::QueryInterface(const IID& iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory)
        return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

ULONG TComObjectFactory::AddRef() {
    ComServer().CountFactory(true);
    return static_cast<ULONG>(InterlockedIncrement(clientRefs_));
}

ULONG TComObjectFactory::Release() {
    // A client that releases more than it took must not make the server think it holds
    // fewer references than there are.
    if (clientRefs_.load() <= 0)
        return 0;
    ComServer().CountFactory(false);
    return static_cast<ULONG>(InterlockedDecrement(clientRefs_));
}

HRESULT TComObjectFactory::CreateInstance(IUnknown* outer, const IID& iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (outer != nullptr && iid != IID_IUnknown)
        return CLASS_E_NOAGGREGATION;
    TComObject* created = nullptr;
    try {
        created = CreateComObject(outer);
    } catch (...) {
        ui::messageBox({ui::MessageIcon::Error, "Server Error", errorText(std::current_exception()),
                        ui::MessageButtons::Ok});
        return E_UNEXPECTED;
    }
    if (created == nullptr)
        return E_UNEXPECTED;
    const HRESULT result = created->ObjQueryInterface(iid, object);
    if (FAILED(result))
        delete created; // still counted 0: nobody holds it
    return result;
}

HRESULT TComObjectFactory::LockServer(BOOL lock) {
    if (lock != 0) {
        InterlockedIncrement(lockCount_);
        ComServer().CountObject(true);
        return S_OK;
    }
    // An unlock without a lock would let the library go while objects still live.
    if (lockCount_.load() <= 0)
        return E_UNEXPECTED;
    InterlockedDecrement(lockCount_);
    ComServer().CountObject(false);
    return S_OK;
}

void TComObjectFactory::UpdateRegistry(bool registering) {
    const std::string key = classKey(classId_);
    const std::string serverKey = key + "\\InprocServer32";
    if (!registering) {
        // Single-key deletions: the class key stays while other subkeys remain.
        RegDeleteKey(HKEY_CLASSES_ROOT, serverKey);
        RegDeleteKey(HKEY_CLASSES_ROOT, key);
        return;
    }
    writeClassesRootDefault(key, description_);
    // There are no short (8.3) names here: the path is written whole, blanks included;
    // the registry file quotes it and a host loads the whole string.
    writeClassesRootDefault(serverKey, libraryFileName());
    if (threadingModel_ == ThreadingModel::Apartment) {
        HKEY handle = nullptr;
        if (RegOpenKeyEx(HKEY_CLASSES_ROOT, serverKey, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS)
            throw Error(kRegistryEntryError);
        const LONG result = RegSetValueEx(handle, "ThreadingModel", REG_SZ, "Apartment");
        RegCloseKey(handle);
        if (result != ERROR_SUCCESS)
            throw Error(kRegistryEntryError);
    }
}

} // namespace fetchora
