#include "e2e/guest/captured_stderr.h"

#include <cstdio>
#include <unistd.h>

namespace zve2e {

std::string captured_stderr(const std::function<void()> &run) {
    std::fflush(stderr);
    FILE *sink = std::tmpfile();
    const int saved = dup(STDERR_FILENO);
    if (sink == nullptr || saved < 0) {
        if (sink) std::fclose(sink);
        run();
        return "(standard error could not be captured)";
    }
    dup2(fileno(sink), STDERR_FILENO);
    run();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::string text;
    std::rewind(sink);
    for (int c; (c = std::fgetc(sink)) != EOF;)
        text.push_back(char(c));
    std::fclose(sink);
    return text;
}

} // namespace zve2e
