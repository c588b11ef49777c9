// The process-wide error list and the hook that shows it.
#include "queue/exception_list.h"

#include <utility>

namespace fetchora {

namespace {

DialogHook<ExceptionViewSignature>& exceptionView() {
    static DialogHook<ExceptionViewSignature> hook;
    return hook;
}

} // namespace

std::vector<std::string>& ExceptionList() {
    static std::vector<std::string> lines;
    return lines;
}

void AddException(const std::string& text, const std::string& url) {
    // "* %s [%s]", built by hand so that every byte of the texts is kept.
    ExceptionList().push_back("* " + text + " [" + url + "]");
}

void ShowExceptions() {
    const std::vector<std::string>& lines = ExceptionList();
    if (lines.empty())
        return;
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += "\r\n";
        text += lines[i];
    }
    exceptionView()(text);
}

ExceptionView setExceptionView(ExceptionView view) {
    return exceptionView().install(std::move(view));
}

} // namespace fetchora
