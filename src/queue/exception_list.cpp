// The process-wide error list.
#include "queue/exception_list.h"

namespace fetchora {

std::vector<std::string>& ExceptionList() {
    static std::vector<std::string> lines;
    return lines;
}

void AddException(const std::string& text, const std::string& url) {
    // "* %s [%s]", built by hand so that every byte of the texts is kept.
    ExceptionList().push_back("* " + text + " [" + url + "]");
}

} // namespace fetchora
