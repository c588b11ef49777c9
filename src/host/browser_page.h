// What a band's view of the browser needs from a browser window: the address of the page
// shown and a way to show another. The browser window provides it; tests fake it.
#pragma once

#include <string>

namespace fetchora::host {

class BrowserPage {
public:
    // The address of the page shown, empty while none is.
    virtual std::string currentAddress() const = 0;
    // Shows address in this window.
    virtual void showAddress(const std::string& address) = 0;

protected:
    ~BrowserPage() = default;
};

} // namespace fetchora::host
