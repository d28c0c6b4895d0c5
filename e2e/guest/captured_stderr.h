// What a piece of code writes to standard error (the library prints its open problems there).
#pragma once

#include <functional>
#include <string>

namespace zve2e {

std::string captured_stderr(const std::function<void()> &run);

} // namespace zve2e
