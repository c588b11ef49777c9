// The report for unhandled errors: a line on stderr and an error box.
#include "platform/report.h"

#include "platform/ui.h"

#include <cstdio>

namespace fetchora {

void reportUnhandledError(const std::string& message) {
    std::fprintf(stderr, "fetchora: %s\n", message.c_str());
    ui::messageBox({ui::MessageIcon::Error, "Error", message, ui::MessageButtons::Ok});
}

} // namespace fetchora
