// The server's entry points in-process: the class object, the unload decision with
// objects, locks and factory references, aggregation and failed creation, and what
// registration writes to and removes from the registry.
#include "band/com_object.h"
#include "band/com_object_factory.h"
#include "band/server_exports.h"
#include "band/talvix_band.h"
#include "platform/com/com_ptr.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/resources/binary_resource.h"
#include "support/sandbox.h"
#include "util/library_path.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace fetchora {
namespace {

using namespace com;
using namespace registry;
using testing::Sandbox;
using testing::ScriptedDesktop;

const std::string kClsid = "{3F5A62E2-51F2-11D3-A075-CC7364CAE42A}";
const std::string kClassKey = "CLSID\\" + kClsid;
const std::string kCategory = "{00021492-0000-0000-C000-000000000046}";
const std::string kToolbars = "Software\\Microsoft\\Internet Explorer\\Toolbar";

// The string value name of key under root, or nothing when key or value is missing.
std::optional<std::string> readValue(HKEY root, const std::string& key, const std::string& name) {
    HKEY handle = nullptr;
    if (RegOpenKeyEx(root, key, KEY_READ, &handle) != ERROR_SUCCESS)
        return std::nullopt;
    std::string data;
    DWORD type = 0;
    const LONG result = RegQueryValueEx(handle, name, &type, &data);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS)
        return std::nullopt;
    return data;
}

bool keyExists(HKEY root, const std::string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyEx(root, key, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

ComPtr<IClassFactory> bandFactory() {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(DllGetClassObject(CLSID_TalvixBand, IID_IClassFactory, factory.putVoid()), S_OK);
    return factory;
}

// An outer object of an aggregate that counts the references its inner object sends it.
class CountingOuter final : public IUnknown {
public:
    HRESULT QueryInterface(const IID&, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG Release() override { return static_cast<ULONG>(--refs); }
    int refs = 0;
};

// A factory whose object construction fails.
class FailingFactory final : public TComObjectFactory {
public:
    FailingFactory()
        : TComObjectFactory(GUID{1, 2, 3, {4}}, "", "Failing", Instancing::Multiple,
                            ThreadingModel::Single) {}

protected:
    TComObject* CreateComObject(IUnknown*) override { throw Error("Out of window handles"); }
};

TEST(ComServerTest, GivesTheClassObjectOfTheBandOnly) {
    void* object = &object;
    EXPECT_EQ(DllGetClassObject(GUID{0x12345678, 1, 2, {3}}, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(DllGetClassObject(CLSID_TalvixBand, IID_IDeskBand, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(ComServerTest, StaysLoadedWhileObjectsLocksOrFactoryReferencesRemain) {
    ASSERT_EQ(DllCanUnloadNow(), S_OK);
    auto factory = bandFactory();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);

    ComPtr<IDeskBand> band;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDeskBand, band.putVoid()), S_OK);
    factory.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "a band object lives";
    band.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    factory = bandFactory();
    EXPECT_EQ(factory->LockServer(1), S_OK);
    IClassFactory* raw = factory.get();
    factory.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "the server is locked";
    EXPECT_EQ(raw->LockServer(0), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    // Unlocking or releasing more than was taken does not hide a later reference.
    EXPECT_EQ(raw->LockServer(0), E_UNEXPECTED);
    raw->Release();
    factory = bandFactory();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    factory.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(ComServerTest, AggregatesOnlyWhenAskedForTheInnerUnknown) {
    auto factory = bandFactory();
    CountingOuter outer;
    void* object = &object;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IDeskBand, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);

    IUnknown* inner = nullptr;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)),
              S_OK);
    IDeskBand* band = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IDeskBand, reinterpret_cast<void**>(&band)), S_OK);
    EXPECT_EQ(outer.refs, 1) << "the aggregate's interfaces count on the outer object";
    band->Release();
    EXPECT_EQ(outer.refs, 0);
    factory.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    inner->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(ComServerTest, DestroysAnObjectThatLacksTheInterfaceAskedFor) {
    auto factory = bandFactory();
    void* object = &object;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    factory.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(ComServerTest, ReportsAFailedConstructionInAServerErrorBox) {
    ScriptedDesktop desktop;
    FailingFactory factory;
    void* object = &object;
    EXPECT_EQ(factory.CreateInstance(nullptr, IID_IUnknown, &object), E_UNEXPECTED);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].title, "Server Error");
    EXPECT_EQ(desktop.messages[0].text, "Out of window handles");
}

// A little-endian 32-bit field of the blob.
std::int32_t field(std::span<const std::uint8_t> bytes, size_t offset) {
    std::uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
    return static_cast<std::int32_t>(value);
}

TEST(ComServerTest, LoadingAddsATypeLibraryThatDeclaresOnlyTheLibrary) {
    const auto blob = resources::findBinaryResource("TYPELIB", 1);
    ASSERT_GE(blob.size(), 0x54u + 15 * 16);
    EXPECT_EQ(field(blob, 0x00), 0x5446534D); // "MSFT"
    EXPECT_EQ(field(blob, 0x0C), 0x0409);     // locale
    EXPECT_EQ(field(blob, 0x14) & 0x0F, 1);   // 32-bit Windows
    EXPECT_EQ(field(blob, 0x18), 1);          // version 1.0
    EXPECT_EQ(field(blob, 0x20), 0);          // no types

    // Every segment lies inside the blob; the GUID, name and string segments hold the
    // library's identifier, its name and its help string.
    const size_t directory = 0x54;
    for (size_t segment = 0; segment < 15; ++segment) {
        const std::int32_t offset = field(blob, directory + segment * 16);
        const std::int32_t length = field(blob, directory + segment * 16 + 4);
        if (offset >= 0) {
            EXPECT_LE(static_cast<size_t>(offset + length), blob.size()) << segment;
        }
    }
    const auto segmentStart = [&](size_t segment) {
        return static_cast<size_t>(field(blob, directory + segment * 16));
    };
    const size_t guid = segmentStart(5) + static_cast<size_t>(field(blob, 0x08));
    EXPECT_EQ(field(blob, guid), static_cast<std::int32_t>(0xCD58CE7E));
    EXPECT_EQ(blob[guid + 15], 0x9B);
    const size_t name = segmentStart(7) + static_cast<size_t>(field(blob, 0x38));
    const size_t nameLength = static_cast<size_t>(field(blob, name + 8) & 0xFF);
    EXPECT_EQ(std::string(blob.begin() + name + 12, blob.begin() + name + 12 + nameLength),
              "TalvixBand");
    const size_t help = segmentStart(8) + static_cast<size_t>(field(blob, 0x24));
    const size_t helpLength = blob[help] | (blob[help + 1] << 8);
    EXPECT_EQ(std::string(blob.begin() + help + 2, blob.begin() + help + 2 + helpLength),
              "TalvixBand Library");
}

class RegistrationTest : public ::testing::Test {
protected:
    std::string hive(const char* name) {
        return Sandbox::readFile(sandbox_.root() + "/registry/" + name + ".reg");
    }

    Sandbox sandbox_;
};

TEST_F(RegistrationTest, RegisteringTwiceWritesTheSameEntriesAsOnce) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
    const std::string classes = hive("HKEY_CLASSES_ROOT");
    const std::string machine = hive("HKEY_LOCAL_MACHINE");
    ASSERT_EQ(DllRegisterServer(), S_OK);
    EXPECT_EQ(hive("HKEY_CLASSES_ROOT"), classes);
    EXPECT_EQ(hive("HKEY_LOCAL_MACHINE"), machine);

    EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, kClassKey, ""), "&Pullmarq Toolbar");
    EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32", ""), libraryFileName());
    EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32", "ThreadingModel"),
              "Apartment");
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, kClassKey + "\\Implemented Categories\\" + kCategory));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kClassKey + "\\ProgID"));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, kToolbars, kClsid), "");
}

TEST_F(RegistrationTest, UnregisteringRemovesTheClassTheToolbarValueAndTheCachedCategory) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "Component Categories\\" + kCategory + "\\Enum",
                             KEY_ALL_ACCESS, &handle),
              ERROR_SUCCESS);
    RegSetValueEx(handle, "Implementing", REG_SZ, "cached");
    RegCloseKey(handle);
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Fetchora", KEY_ALL_ACCESS, &handle),
              ERROR_SUCCESS);
    RegSetValueEx(handle, "Types", REG_SZ, "zip");
    RegCloseKey(handle);

    EXPECT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, "Component Categories\\" + kCategory + "\\Enum"));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, kToolbars, kClsid), std::nullopt);
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, "Software\\Fetchora", "Types"), "zip");

    // Unregistering what is not registered succeeds.
    EXPECT_EQ(DllUnregisterServer(), S_OK);
}

TEST_F(RegistrationTest, WithoutWriteAccessToTheMachineTheToolbarValueIsMissing) {
    setHiveReadOnly(Hive::LocalMachine, true);
    EXPECT_EQ(DllRegisterServer(), S_OK);
    EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, kClassKey, ""), "&Pullmarq Toolbar");
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, kToolbars, kClsid), std::nullopt);
    EXPECT_EQ(DllUnregisterServer(), S_OK);
}

TEST_F(RegistrationTest, WithoutWriteAccessToTheClassesRegistrationFails) {
    setHiveReadOnly(Hive::ClassesRoot, true);
    EXPECT_EQ(DllRegisterServer(), E_FAIL);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, kToolbars, kClsid), std::nullopt);
}

} // namespace
} // namespace fetchora
