// DialogHook, the one way plain code asks the user something through a dialog it cannot
// see: the code calls the hook, the forms library installs the dialog that answers at
// start-up, and a test installs a script instead.
#pragma once

#include <functional>
#include <utility>

namespace fetchora {

template <typename Signature> class DialogHook;

template <typename Result, typename... Args> class DialogHook<Result(Args...)> final {
public:
    using Function = std::function<Result(Args...)>;

    // Installs function and returns the one installed before, so a caller can put it back.
    Function install(Function function) {
        std::swap(function, function_);
        return function;
    }

    // Runs the installed function; without one the answer is Result's default (false: the
    // user cancelled; nothing shown).
    Result operator()(Args... args) const {
        if (!function_)
            return Result();
        return function_(std::forward<Args>(args)...);
    }

private:
    Function function_;
};

} // namespace fetchora
