#pragma once
// The user's text for a system error: Japanese for the errors a user can act on, the system's
// own words (with the error's name) for the rest. CP932.
#include <exception>
#include <string>

namespace klv {

std::string systemErrorText(int err);

// What went wrong, for an exception of the core or the standard library: a file system error
// names its path and the reason in the user's words; other exceptions give their message.
std::string describeError(const std::exception& e);

} // namespace klv
