// zvsim-usbredir: serves one simulated HLM25 (the firmware model of the in-process simulator)
// over the usbredir protocol on a unix socket, for QEMU's usb-redir device. QEMU connects to the
// socket, so the server listens before QEMU starts; it serves one connection and exits when the
// peer closes it.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "e2e/server/log.h"
#include "e2e/server/redir_detector.h"
#include "e2e/server/server_settings.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void request_stop(int) {
    stop_requested = 1;
}

// A listening socket at `path` (an old socket file there is replaced), or -1.
int listen_at(const std::string &path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        std::fprintf(stderr, "zvsim-usbredir: socket path too long: %s\n", path.c_str());
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    unlink(path.c_str());
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(fd, 1) != 0) {
        std::fprintf(stderr, "zvsim-usbredir: cannot listen at %s: %s\n", path.c_str(),
                     std::strerror(errno));
        if (fd >= 0) close(fd);
        return -1;
    }
    return fd;
}

} // namespace

int main(int argc, char **argv) {
    zve2e::ServerSettings settings;
    if (!zve2e::parse_server_settings(argc, argv, settings)) return 2;
    if (settings.list) {
        for (const zve2e::Detector &d : zve2e::kDetectors)
            std::printf("%s\n", d.name);
        return 0;
    }
    std::signal(SIGINT, request_stop);
    std::signal(SIGTERM, request_stop);
    std::signal(SIGPIPE, SIG_IGN);
    try {
        zve2e::RedirDetector detector(settings);
        const int listener = listen_at(settings.socket_path);
        if (listener < 0) return 1;
        zve2e::log_line("%s: listening at %s", settings.detector->name,
                        settings.socket_path.c_str());
        const int peer = accept(listener, nullptr, nullptr);
        close(listener);
        unlink(settings.socket_path.c_str());
        if (peer < 0) {
            if (!stop_requested) std::perror("zvsim-usbredir: accept");
            return stop_requested ? 0 : 1;
        }
        const bool ok = detector.serve(peer, stop_requested);
        close(peer);
        return ok ? 0 : 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "zvsim-usbredir: %s\n", e.what());
        return 2;
    }
}
