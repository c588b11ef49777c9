// The browser's IWebBrowser2 as the toolbar window uses it: the address of the page
// shown and a way to show an address. The band's host implements it.
#pragma once

#include "platform/com/com.h"

#include <string>

namespace fetchora::com {

// {D30C1661-CDAF-11D0-8A3E-00C04FC9E26E}
inline constexpr IID IID_IWebBrowser2 = {
    0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};

class IWebBrowser2 : public IUnknown {
public:
    // The address of the page shown, empty when none is.
    virtual HRESULT LocationURL(std::string& url) = 0;
    // Shows url in the browser window; the optional flags, target frame, post data and
    // headers are always empty here.
    virtual HRESULT Navigate(const std::string& url) = 0;

protected:
    ~IWebBrowser2() = default;
};

} // namespace fetchora::com
