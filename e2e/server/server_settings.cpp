#include "e2e/server/server_settings.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace zve2e {

namespace {

void usage(const char *program) {
    std::fprintf(stderr,
                 "usage: %s --socket PATH --detector NAME [--rate SAMPLES_PER_S] [--pace F] "
                 "[--verbose]\n       %s --list\n"
                 "Serves a simulated HLM25 over the usbredir protocol to the peer (QEMU's "
                 "usb-redir device) that connects to the unix socket PATH.\ndetectors:",
                 program, program);
    for (const Detector &d : kDetectors)
        std::fprintf(stderr, " %s", d.name);
    std::fputc('\n', stderr);
}

bool fail(const char *program, const char *problem, const char *what) {
    usage(program);
    std::fprintf(stderr, "%s: %s %s\n", program, problem, what);
    return false;
}

} // namespace

bool parse_server_settings(int argc, char **argv, ServerSettings &s) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--list") {
            s.list = true;
            return true;
        }
        if (option == "--verbose") {
            s.verbose = true;
            continue;
        }
        if (option != "--socket" && option != "--detector" && option != "--rate" &&
            option != "--pace")
            return fail(argv[0], "unknown option", argv[i]);
        if (i + 1 >= argc) return fail(argv[0], "missing value after", argv[i]);
        const char *value = argv[++i];
        if (option == "--socket") {
            s.socket_path = value;
        } else if (option == "--detector") {
            s.detector = find_detector(value);
            if (!s.detector) return fail(argv[0], "unknown detector", value);
        } else if (option == "--rate") {
            s.samplerate = uint32_t(std::strtoul(value, nullptr, 10));
            if (s.samplerate == 0) return fail(argv[0], "invalid sample rate", value);
        } else {
            s.pace = std::strtod(value, nullptr);
            if (!(s.pace > 0.1 && s.pace <= 1.0))
                return fail(argv[0], "pace outside 0.1..1:", value);
        }
    }
    if (s.socket_path.empty()) return fail(argv[0], "missing", "--socket");
    if (!s.detector) return fail(argv[0], "missing", "--detector");
    if (s.samplerate == 0) s.samplerate = s.detector->samplerate;
    return true;
}

} // namespace zve2e
