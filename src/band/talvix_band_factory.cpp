// The band's class factory and its registry entries.
#include "band/talvix_band_factory.h"

#include "band/talvix_band.h"
#include "platform/registry.h"

namespace fetchora {

using namespace com;
using namespace registry;

namespace {

// Sets a string value under root\key, creating the key; a key that cannot be opened or
// created, or a value that cannot be set, is skipped.
void setValueIfPossible(HKEY root, const std::string& key, const std::string& name,
                        const std::string& value) {
    HKEY handle = nullptr;
    if (RegCreateKeyEx(root, key, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS)
        return;
    RegSetValueEx(handle, name, REG_SZ, value);
    RegCloseKey(handle);
}

void createKeyIfPossible(HKEY root, const std::string& key) {
    HKEY handle = nullptr;
    if (RegCreateKeyEx(root, key, KEY_ALL_ACCESS, &handle) == ERROR_SUCCESS)
        RegCloseKey(handle);
}

std::string categoryKey() {
    return "\\Implemented Categories\\" + guidToString(CATID_DeskBand);
}

void registerBand(const std::string& clsid, const std::string& key) {
    setValueIfPossible(HKEY_CLASSES_ROOT, key, "", kBandMenuName);
    setValueIfPossible(HKEY_CLASSES_ROOT, key + "\\InProcServer32", "ThreadingModel", "Apartment");
    createKeyIfPossible(HKEY_CLASSES_ROOT, key + categoryKey());
    setValueIfPossible(HKEY_LOCAL_MACHINE, kToolbarListKey, clsid, "");
}

void unregisterBand(const std::string& clsid, const std::string& key) {
    // The shell's cached list of the category's members, rebuilt when next needed.
    RegDeleteTree(HKEY_CLASSES_ROOT,
                  "Component Categories\\" + guidToString(CATID_DeskBand) + "\\Enum");
    RegDeleteTree(HKEY_CLASSES_ROOT, key + categoryKey());
    RegDeleteTree(HKEY_CLASSES_ROOT, key + "\\InProcServer32");
    RegDeleteTree(HKEY_CLASSES_ROOT, key);
    HKEY toolbars = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kToolbarListKey, KEY_ALL_ACCESS, &toolbars) !=
        ERROR_SUCCESS)
        return;
    RegDeleteValue(toolbars, clsid);
    RegCloseKey(toolbars);
}

} // namespace

TTalvixBandFactory::TTalvixBandFactory()
    : TComObjectFactory(CLSID_TalvixBand, "", "Pullmarq", Instancing::Multiple,
                        ThreadingModel::Single) {}

void TTalvixBandFactory::UpdateRegistry(bool registering) {
    TComObjectFactory::UpdateRegistry(registering);
    const std::string clsid = guidToString(classId());
    const std::string key = classKey(classId());
    if (registering)
        registerBand(clsid, key);
    else
        unregisterBand(clsid, key);
}

TComObject* TTalvixBandFactory::CreateComObject(IUnknown* outer) {
    return new TTalvixBand(outer);
}

} // namespace fetchora
