// The band library's exported entry points and its load: the server object first, then
// the band's class factory and the type library resource.
#include "band/server_exports.h"

#include "band/com_object_factory.h"
#include "band/com_server.h"
#include "band/talvix_band_factory.h"
#include "band/type_library.h"

#include <memory>

#define FETCHORA_EXPORT __attribute__((visibility("default")))

namespace fetchora {
namespace {

// Runs when the library is loaded (or the program holding this code starts).
struct ModuleLoad {
    ModuleLoad() {
        TComServer& server = ComServer();
        server.addFactory(std::make_unique<TTalvixBandFactory>());
        registerTypeLibrary();
    }
};

const ModuleLoad moduleLoad;

} // namespace
} // namespace fetchora

using namespace fetchora;
using namespace fetchora::com;

extern "C" FETCHORA_EXPORT HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid,
                                                     void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    try {
        TComObjectFactory* factory = ComServer().findFactory(clsid);
        if (factory == nullptr)
            return CLASS_E_CLASSNOTAVAILABLE;
        return factory->QueryInterface(iid, object);
    } catch (...) {
        return E_FAIL;
    }
}

extern "C" FETCHORA_EXPORT HRESULT DllCanUnloadNow() {
    return ComServer().canUnloadNow() ? S_OK : S_FALSE;
}

extern "C" FETCHORA_EXPORT HRESULT DllRegisterServer() {
    try {
        ComServer().UpdateRegistry(true);
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

extern "C" FETCHORA_EXPORT HRESULT DllUnregisterServer() {
    try {
        ComServer().UpdateRegistry(false);
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}
