// The four entry points of the band library, exported by name as extern "C": the class
// object of a class, the unload test, registration and unregistration. A host finds
// them with dlsym; the pointer types below are theirs.
#pragma once

#include "platform/com/com.h"

extern "C" {

// The factory's interface iid for the class clsid; CLASS_E_CLASSNOTAVAILABLE and a
// null result for any other class.
fetchora::com::HRESULT DllGetClassObject(const fetchora::com::CLSID& clsid,
                                         const fetchora::com::IID& iid, void** object);
// S_OK when no object, server lock or factory reference remains; S_FALSE otherwise.
fetchora::com::HRESULT DllCanUnloadNow();
// Writes the registry entries of every class; E_FAIL when any step raised.
fetchora::com::HRESULT DllRegisterServer();
// Removes them; failures to delete are ignored. E_FAIL when any step raised.
fetchora::com::HRESULT DllUnregisterServer();
}

namespace fetchora {

using DllGetClassObjectProc = com::HRESULT (*)(const com::CLSID&, const com::IID&, void**);
using DllCanUnloadNowProc = com::HRESULT (*)();
using DllRegisterServerProc = com::HRESULT (*)();
using DllUnregisterServerProc = com::HRESULT (*)();

} // namespace fetchora
