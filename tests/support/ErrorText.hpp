// errorText: the text of the exception an action raises, or "<no error>", so that tests can
// compare exact error texts in one line.
#pragma once

#include <exception>
#include <string>

namespace testsupport {

template <class Action>
std::string errorText(Action&& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "<no error>";
}

// errorOf: the error held by a future (or raised while taking its value).
template <class Future>
std::string errorOf(Future future) {
    return errorText([&] { (void)future.get(); });
}

}  // namespace testsupport
