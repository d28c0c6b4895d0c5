// Generation cost of the simulated detector: samples per second it writes into isochronous
// transfers of 16 packets (sixteen transfer buffers in rotation, as the engine uses them), for the
// firmware model alone (plain loop, test patterns, port waveforms, a short loop) and through the
// in-process adapter (queue and pump), beside a plain memcpy of the same bytes for reference.
//
// Usage: bench_sim_generate [transfers] [repeats]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "sim/firmware/firmware.h"
#include "sim/sim_backend_device.h"
#include "sim/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kPackets = 16;
constexpr size_t kSlots = 16; // transfer buffers in rotation, as the acquisition engine keeps

double best_seconds(int repeats, const std::function<void()> &run) {
    double best = 1e30;
    for (int i = 0; i < repeats; ++i) {
        const auto t0 = Clock::now();
        run();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

void report(const char *what, double samples, double seconds) {
    std::printf("%-46s %8.1f MS/s  %6.2f GB/s\n", what, samples / seconds / 1e6,
                2 * samples / seconds / 1e9);
}

void out_request(zvsim::Firmware &fw, uint8_t request, uint16_t value, uint16_t index,
                 std::vector<uint8_t> data = {}) {
    fw.control({0x40, request, value, index, uint16_t(data.size())}, data.data());
}

std::vector<uint8_t> port_record(uint8_t mode, uint8_t level, uint32_t period, uint32_t high) {
    std::vector<uint8_t> r = {mode, level};
    for (uint32_t v : {period, high})
        for (int i = 0; i < 4; ++i)
            r.push_back(uint8_t(v >> (8 * i)));
    return r;
}

// Model alone: `transfers` transfers into one reused buffer.
void firmware_case(const char *what, int transfers, int repeats,
                   const std::function<void(zvsim::Firmware &)> &setup,
                   zvsim::DetectorConfig config = zvsim::DetectorConfig()) {
    zvsim::Firmware fw(config);
    setup(fw);
    fw.select_alt_setting(1);
    const uint32_t p = fw.descriptors().stream_packet_size();
    std::vector<std::vector<uint8_t>> buffers(kSlots, std::vector<uint8_t>(size_t(kPackets) * p));
    std::vector<zvsim::PacketResult> packets(kPackets);
    auto run = [&] {
        for (int t = 0; t < transfers; ++t) {
            auto &buffer = buffers[size_t(t) % kSlots];
            fw.stream_transfer(0x83, buffer.data(), uint32_t(buffer.size()), p, packets.data(),
                               kPackets);
        }
    };
    run(); // warm up: pages, tables
    report(what, double(transfers) * kPackets * p / 2, best_seconds(repeats, run));
}

// Through the adapter: sixteen transfers kept queued, each resubmitted as it completes.
void adapter_case(int transfers, int repeats) {
    auto sim = zvsim::attach(zvsim::DetectorConfig());
    zvsim::SimBackendDevice backend(sim);
    backend.set_alt_setting(1);
    const uint32_t p = sim->stream_packet_size();
    struct Slot {
        std::vector<uint8_t> buffer;
        std::vector<zvusb::IsoPacketInfo> packets;
        bool done = false;
    };
    std::vector<Slot> slots(16);
    for (Slot &s : slots) {
        s.buffer.resize(size_t(kPackets) * p);
        s.packets.resize(kPackets);
    }
    auto submit = [&](Slot &s) {
        s.done = false;
        backend.transfer(0x83, s.buffer.data(), uint32_t(s.buffer.size()), s.packets.data(),
                         kPackets, p, [&s](uint32_t, uint32_t, uint32_t) { s.done = true; });
    };
    auto run = [&] {
        for (Slot &s : slots)
            submit(s);
        int completed = 0;
        for (size_t k = 0; completed < transfers; k = (k + 1) % slots.size()) {
            while (!slots[k].done)
                backend.pump(1000);
            ++completed;
            submit(slots[k]);
        }
        backend.abort(0x83);
        backend.pump(0);
    };
    run();
    const double samples = double(transfers) * kPackets * p / 2;
    report("adapter: transfer + pump, 16 in flight", samples, best_seconds(repeats, run));
    sim->detach();
}

} // namespace

int main(int argc, char **argv) {
    const int transfers = argc > 1 ? std::atoi(argv[1]) : 256;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
    zvsim::Firmware probe{zvsim::DetectorConfig()};
    const uint32_t p = probe.descriptors().stream_packet_size();
    std::printf("%d transfers of %u packets of %u samples, best of %d\n", transfers, kPackets,
                p / 2, repeats);

    // The source is a cached loop, like the firmware's; the targets rotate like transfer slots.
    std::vector<uint8_t> source(size_t(kPackets) * p, 1);
    std::vector<std::vector<uint8_t>> targets(kSlots, std::vector<uint8_t>(source.size()));
    auto copy = [&] {
        for (int t = 0; t < transfers; ++t) {
            for (uint32_t k = 0; k < kPackets; ++k)
                std::memcpy(targets[size_t(t) % kSlots].data() + size_t(k) * p,
                            source.data() + (k % 2) * p, p);
            source[size_t(t) % source.size()] = uint8_t(t); // keep the copies observable
        }
    };
    copy();
    report("memcpy of the same bytes (reference)", double(transfers) * kPackets * p / 2,
           best_seconds(repeats, copy));

    firmware_case("firmware: default ramp", transfers, repeats, [](zvsim::Firmware &) {});
    firmware_case("firmware: checkerboard pattern", transfers, repeats, [](zvsim::Firmware &fw) {
        out_request(fw, 0xC0, 4, 13);
        out_request(fw, 0xC0, 1, 255);
    });
    firmware_case("firmware: PN9 pattern", transfers, repeats, [](zvsim::Firmware &fw) {
        out_request(fw, 0xC0, 6, 13);
        out_request(fw, 0xC0, 1, 255);
    });
    firmware_case("firmware: S square wave 1 MHz, T driven", transfers, repeats,
                  [](zvsim::Firmware &fw) {
                      out_request(fw, 0xC8, 2, 0, port_record(4, 0, 200, 100));
                      out_request(fw, 0xC8, 3, 0, port_record(1, 1, 0, 0));
                  });
    zvsim::DetectorConfig short_loop;
    short_loop.samples = {1, 2, 3};
    firmware_case(
        "firmware: 3-word loop", transfers, repeats, [](zvsim::Firmware &) {}, short_loop);
    adapter_case(transfers, repeats);
    return 0;
}
