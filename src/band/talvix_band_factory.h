// TTalvixBandFactory: the class factory of the band object. Besides the general class
// registration it writes the entries that make the browser offer the band as a
// toolbar: its menu name, the apartment threading model, the desk band category and the
// browser's toolbar list.
#pragma once

#include "band/com_object_factory.h"

namespace fetchora {

class TTalvixBandFactory final : public TComObjectFactory {
public:
    TTalvixBandFactory();

    // The general class registration first, then the band's own entries.
    void UpdateRegistry(bool registering) override;

protected:
    TComObject* CreateComObject(com::IUnknown* outer) override;
};

// Registry names of the band's entries.
inline constexpr const char* kBandMenuName = "&Pullmarq Toolbar";
inline constexpr const char* kToolbarListKey = R"(SOFTWARE\Microsoft\Internet Explorer\Toolbar)";

} // namespace fetchora
