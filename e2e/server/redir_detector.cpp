#include "e2e/server/redir_detector.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include "e2e/server/configuration_layout.h"
#include "e2e/server/firmware_config.h"
#include "e2e/server/log.h"
#include "e2e/server/wall_clock.h"

namespace zve2e {

namespace {

constexpr uint8_t kDirectionIn = 0x80;
constexpr uint8_t kStandardSetConfiguration = 9;
constexpr uint8_t kStandardGetInterface = 10;
constexpr uint8_t kStandardSetInterface = 11;
constexpr uint8_t kRecipientInterface = 0x01;
constexpr uint8_t kControlEndpoint = 0x00;
constexpr size_t kDeviceMaxPacket0Offset = 7;
// More output than this waiting for the peer: the stream waits too.
constexpr uint64_t kMaxQueuedBytes = 4u << 20;
// Packets sent at once when the peer starts the stream, at most.
constexpr uint32_t kMaxPacketsAhead = 32;

double interval_seconds() {
    return 125e-6 * double(1u << (kStreamInterval - 1));
}

// The interval reported for an endpoint. QEMU sizes the buffer it keeps of an isochronous stream
// (about 60 ms, dropping packets beyond twice that) from this field, read as microframes at high
// speed and as 1 ms frames at any other speed. A SuperSpeed bInterval counts microframes as at
// high speed, so it is reported in frames, at least 1.
uint8_t redir_interval(zvsim::Speed speed, uint8_t b_interval) {
    if (speed != zvsim::Speed::super) return b_interval;
    const uint32_t microframes = 1u << (b_interval - 1);
    return uint8_t(std::max<uint32_t>(1, microframes / 8));
}

// usbredir's endpoint index: IN endpoints 16..31, OUT endpoints 0..15.
int endpoint_index(uint8_t address) {
    return ((address & 0x80) >> 3) | (address & 0x0F);
}

RedirDetector *self(void *priv) {
    return static_cast<RedirDetector *>(priv);
}

void log_from_parser(void *, int level, const char *message) {
    if (level <= usbredirparser_warning) log_line("usbredir: %s", message);
}

} // namespace

RedirDetector::RedirDetector(const ServerSettings &settings)
    : settings_(settings), config_(firmware_config(*settings.detector, settings.samplerate)),
      schedule_(interval_seconds(), settings.pace) {
    const double per_packet = settings.samplerate * interval_seconds();
    samples_per_packet_ = uint32_t(per_packet);
    if (double(samples_per_packet_) != per_packet || samples_per_packet_ == 0)
        throw std::invalid_argument("the sample rate must be a multiple of " +
                                    std::to_string(int(1 / interval_seconds())) +
                                    " samples per second (one packet per service interval)");
    power_up();
    if (2 * samples_per_packet_ > firmware_->descriptors().stream_packet_size())
        throw std::invalid_argument("the sample rate needs more than one full packet per "
                                    "service interval");
}

RedirDetector::~RedirDetector() {
    if (parser_) usbredirparser_destroy(parser_);
}

void RedirDetector::power_up() {
    firmware_ = std::make_unique<zvsim::Firmware>(config_);
    // The model announces a packet every (micro)frame, as the detector does; under emulation the
    // stream endpoint is announced with a longer service interval.
    std::vector<uint8_t> configuration =
        *firmware_->descriptors().find(zvsim::descriptor_type::kConfiguration, 0);
    set_endpoint_interval(configuration, zvsim::kStreamEndpoint, kStreamInterval);
    firmware_->descriptors().override_descriptor(zvsim::descriptor_type::kConfiguration, 0,
                                                 std::move(configuration));
    if (settings_.detector->unanswered_request != 0)
        firmware_->request_faults().hang(settings_.detector->unanswered_request,
                                         zvsim::RequestFaults::kUntilCleared);
    packets_ = std::make_unique<StreamPackets>(*firmware_, samples_per_packet_);
    configuration_ = 1;
    collection_ = 0;
    streaming_ = false;
}

void RedirDetector::plug() {
    const std::vector<uint8_t> &d =
        *firmware_->descriptors().find(zvsim::descriptor_type::kDevice, 0);
    usb_redir_device_connect_header connect{};
    connect.speed =
        config_.speed == zvsim::Speed::super ? usb_redir_speed_super : usb_redir_speed_high;
    connect.device_class = d[4];
    connect.device_subclass = d[5];
    connect.device_protocol = d[6];
    connect.vendor_id = uint16_t(d[8] | d[9] << 8);
    connect.product_id = uint16_t(d[10] | d[11] << 8);
    connect.device_version_bcd = uint16_t(d[12] | d[13] << 8);
    send_endpoint_info();
    usbredirparser_send_device_connect(parser_, &connect);
    plugged_ = true;
    replug_at_ = 0;
    log_line("plugged in: %04x:%04x %s, serial %s, %u samples/s, %u samples per packet",
             connect.vendor_id, connect.product_id,
             connect.speed == usb_redir_speed_super ? "superspeed" : "high speed",
             settings_.detector->serial, settings_.samplerate, samples_per_packet_);
}

void RedirDetector::unplug(double now) {
    stop_stream();
    unanswered_.clear();
    usbredirparser_send_device_disconnect(parser_);
    plugged_ = false;
    awaiting_disconnect_ack_ =
        usbredirparser_peer_has_cap(parser_, usb_redir_cap_device_disconnect_ack) != 0;
    const uint32_t replug_ms = settings_.detector->replug_ms;
    replug_at_ = replug_ms > 0 ? now + replug_ms / 1000.0 : 0;
    log_line("unplugged in collection %u after %u packets%s", collection_, collection_packets_,
             replug_ms > 0 ? ", plugging in again later" : "");
}

void RedirDetector::send_endpoint_info() {
    const ConfigurationLayout layout = configuration_layout(
        *firmware_->descriptors().find(zvsim::descriptor_type::kConfiguration, 0));
    usb_redir_interface_info_header interfaces{};
    for (const InterfaceEntry &i : layout.interfaces) {
        if (i.alt != 0 || interfaces.interface_count >= 32) continue;
        const uint32_t k = interfaces.interface_count++;
        interfaces.interface[k] = i.number;
        interfaces.interface_class[k] = i.interface_class;
        interfaces.interface_subclass[k] = i.subclass;
        interfaces.interface_protocol[k] = i.protocol;
    }
    usb_redir_ep_info_header endpoints{};
    std::fill(std::begin(endpoints.type), std::end(endpoints.type),
              uint8_t(usb_redir_type_invalid));
    const uint8_t ep0_size_field = (*firmware_->descriptors().find(zvsim::descriptor_type::kDevice,
                                                                   0))[kDeviceMaxPacket0Offset];
    const uint16_t ep0_size =
        config_.speed == zvsim::Speed::super ? uint16_t(1u << ep0_size_field) : ep0_size_field;
    for (uint8_t address : {kControlEndpoint, uint8_t(kControlEndpoint | kDirectionIn)}) {
        endpoints.type[endpoint_index(address)] = usb_redir_type_control;
        endpoints.max_packet_size[endpoint_index(address)] = ep0_size;
    }
    if (configuration_ != 0) {
        for (const EndpointEntry &e : layout.endpoints) {
            if (e.alt != firmware_->alt_setting()) continue;
            const int k = endpoint_index(e.address);
            endpoints.type[k] = e.attributes & 3;
            endpoints.interval[k] = redir_interval(config_.speed, e.interval);
            endpoints.interface[k] = e.interface;
            endpoints.max_packet_size[k] = uint16_t(zvsim::isochronous_packet_size(
                e.w_max_packet_size, e.has_companion, e.max_burst, e.companion_attributes));
        }
    }
    usbredirparser_send_interface_info(parser_, &interfaces);
    usbredirparser_send_ep_info(parser_, &endpoints);
}

void RedirDetector::stop_stream() {
    streaming_ = false;
}

void RedirDetector::stream(double now) {
    if (!streaming_ || !plugged_) return;
    for (uint32_t due = schedule_.due(now); due > 0; --due) {
        if (usbredirparser_get_bufferered_output_size(parser_) > kMaxQueuedBytes) return;
        const StreamEvent &unplug_at = settings_.detector->unplug;
        if (unplug_at.collection == collection_ && collection_packets_ >= unplug_at.after_packets) {
            unplug(now);
            return;
        }
        StreamPacket packet;
        if (!packets_->next(packet)) {
            log_line("stream refused by the firmware; stopped");
            stop_stream();
            return;
        }
        if (packet.sent) {
            usb_redir_iso_packet_header header{};
            header.endpoint = zvsim::kStreamEndpoint;
            header.status = packet.error ? usb_redir_ioerror : usb_redir_success;
            header.length = uint16_t(packet.length);
            usbredirparser_send_iso_packet(parser_, iso_id_++, &header,
                                           const_cast<uint8_t *>(packet.data), int(packet.length));
            ++packets_sent_;
        }
        ++collection_packets_;
        schedule_.take(1);
    }
}

int RedirDetector::poll_timeout_ms(double now) const {
    double wait = 0.25;
    if (streaming_ && plugged_) wait = std::min(wait, schedule_.wait(now));
    if (replug_at_ > 0) wait = std::min(wait, std::max(0.0, replug_at_ - now));
    return int(wait * 1000) + (wait > 0 ? 1 : 0);
}

void RedirDetector::on_hello() {
    plug();
}

void RedirDetector::on_reset() {
    stop_stream();
    packets_->discard();
    firmware_->select_alt_setting(0);
    send_endpoint_info();
    log_line("bus reset");
}

void RedirDetector::on_control(uint64_t id, usb_redir_control_packet_header *h, uint8_t *data,
                               int len) {
    const zvsim::SetupPacket setup{h->requesttype, h->request, h->value, h->index, h->length};
    const bool in = (h->requesttype & kDirectionIn) != 0;
    std::vector<uint8_t> stage(h->length);
    if (!in && data) std::memcpy(stage.data(), data, std::min<size_t>(size_t(len), stage.size()));
    if (data) usbredirparser_free_packet_data(parser_, data);

    zvsim::ControlResult result{true, 0};
    if (!plugged_) {
        h->status = usb_redir_ioerror;
    } else {
        result = firmware_->control(setup, stage.data());
        if (result.unanswered) {
            log_line("control %02x %02x: not answered", h->requesttype, h->request);
            unanswered_.emplace_back(id, *h);
            return;
        }
        h->status = result.stalled ? usb_redir_stall : usb_redir_success;
    }
    ++requests_;
    if (plugged_ && result.stalled) ++stalls_;
    if (settings_.verbose || (result.stalled && plugged_))
        log_line("control %02x %02x value %04x index %04x length %u: %s %u bytes", h->requesttype,
                 h->request, h->value, h->index, h->length, result.stalled ? "stall" : "ok",
                 result.length);
    const bool answer = in && h->status == usb_redir_success;
    h->length = uint16_t(h->status != usb_redir_success ? 0 : in ? result.length : h->length);
    usbredirparser_send_control_packet(parser_, id, h, answer ? stage.data() : nullptr,
                                       answer ? int(result.length) : 0);
}

void RedirDetector::on_set_configuration(uint64_t id, uint8_t configuration) {
    const zvsim::SetupPacket setup{0, kStandardSetConfiguration, configuration, 0, 0};
    const bool ok = plugged_ && !firmware_->control(setup, nullptr).stalled;
    if (ok) {
        configuration_ = configuration;
        stop_stream();
        firmware_->select_alt_setting(0);
    }
    send_endpoint_info();
    usb_redir_configuration_status_header status{uint8_t(ok ? usb_redir_success : usb_redir_stall),
                                                 configuration_};
    usbredirparser_send_configuration_status(parser_, id, &status);
}

void RedirDetector::on_get_configuration(uint64_t id) {
    usb_redir_configuration_status_header status{usb_redir_success, configuration_};
    usbredirparser_send_configuration_status(parser_, id, &status);
}

void RedirDetector::on_set_alt_setting(uint64_t id, uint8_t interface, uint8_t alt) {
    const StreamEvent &loss = settings_.detector->data_loss;
    if (alt == zvsim::kStreamAltSetting && loss.collection == collection_ + 1)
        firmware_->stream_faults().inject(zvsim::StreamFault::data_loss,
                                          loss.after_packets / kPacketsPerTransfer,
                                          int(loss.after_packets % kPacketsPerTransfer));
    const zvsim::SetupPacket setup{kRecipientInterface, kStandardSetInterface, alt, interface, 0};
    const bool ok = plugged_ && !firmware_->control(setup, nullptr).stalled;
    if (ok) {
        stop_stream();
        packets_->discard();
        if (alt == zvsim::kStreamAltSetting) {
            ++collection_;
            collection_packets_ = 0;
            log_line("collection %u starts", collection_);
        }
    }
    send_endpoint_info();
    usb_redir_alt_setting_status_header status{uint8_t(ok ? usb_redir_success : usb_redir_stall),
                                               interface, firmware_->alt_setting()};
    usbredirparser_send_alt_setting_status(parser_, id, &status);
}

void RedirDetector::on_get_alt_setting(uint64_t id, uint8_t interface) {
    const zvsim::SetupPacket setup{kDirectionIn | kRecipientInterface, kStandardGetInterface, 0,
                                   interface, 1};
    uint8_t alt = 0;
    const bool ok = plugged_ && !firmware_->control(setup, &alt).stalled;
    usb_redir_alt_setting_status_header status{uint8_t(ok ? usb_redir_success : usb_redir_stall),
                                               interface, alt};
    usbredirparser_send_alt_setting_status(parser_, id, &status);
}

void RedirDetector::on_start_iso_stream(uint64_t id, const usb_redir_start_iso_stream_header *h) {
    const bool ok = plugged_ && h->endpoint == zvsim::kStreamEndpoint &&
                    firmware_->alt_setting() == zvsim::kStreamAltSetting;
    if (ok) {
        streaming_ = true;
        schedule_.start(wall_seconds(),
                        std::min<uint32_t>(kMaxPacketsAhead, h->pkts_per_urb * h->no_urbs / 2));
    }
    log_line("start stream %02x (%u packets x %u transfers): %s", h->endpoint, h->pkts_per_urb,
             h->no_urbs, ok ? "ok" : "refused");
    usb_redir_iso_stream_status_header status{uint8_t(ok ? usb_redir_success : usb_redir_inval),
                                              h->endpoint};
    usbredirparser_send_iso_stream_status(parser_, id, &status);
}

void RedirDetector::on_stop_iso_stream(uint64_t id, uint8_t endpoint) {
    // Packets already filled stay queued: a stream restarted within the same collection goes on
    // where it stopped.
    stop_stream();
    log_line("stop stream %02x after %u packets of collection %u", endpoint, collection_packets_,
             collection_);
    usb_redir_iso_stream_status_header status{usb_redir_success, endpoint};
    usbredirparser_send_iso_stream_status(parser_, id, &status);
}

void RedirDetector::on_cancel(uint64_t id) {
    for (auto i = unanswered_.begin(); i != unanswered_.end(); ++i) {
        if (i->first != id) continue;
        usb_redir_control_packet_header reply = i->second;
        reply.status = usb_redir_cancelled;
        reply.length = 0;
        usbredirparser_send_control_packet(parser_, id, &reply, nullptr, 0);
        unanswered_.erase(i);
        log_line("control %02x %02x: cancelled by the host", reply.requesttype, reply.request);
        return;
    }
}

void RedirDetector::on_disconnect_ack() {
    awaiting_disconnect_ack_ = false;
}

int RedirDetector::read_socket(uint8_t *data, int count) {
    const ssize_t r = read(fd_, data, size_t(count));
    if (r == 0) {
        peer_closed_ = true;
        return -1;
    }
    if (r < 0) return errno == EAGAIN || errno == EINTR ? 0 : -1;
    return int(r);
}

int RedirDetector::write_socket(uint8_t *data, int count) {
    const ssize_t r = write(fd_, data, size_t(count));
    if (r < 0) return errno == EAGAIN || errno == EINTR ? 0 : -1;
    return int(r);
}

void RedirDetector::install_callbacks(usbredirparser *p) {
    p->log_func = log_from_parser;
    p->read_func = [](void *priv, uint8_t *d, int n) { return self(priv)->read_socket(d, n); };
    p->write_func = [](void *priv, uint8_t *d, int n) { return self(priv)->write_socket(d, n); };
    p->hello_func = [](void *priv, usb_redir_hello_header *) { self(priv)->on_hello(); };
    p->reset_func = [](void *priv) { self(priv)->on_reset(); };
    p->control_packet_func = [](void *priv, uint64_t id, usb_redir_control_packet_header *h,
                                uint8_t *data,
                                int len) { self(priv)->on_control(id, h, data, len); };
    p->set_configuration_func = [](void *priv, uint64_t id, usb_redir_set_configuration_header *h) {
        self(priv)->on_set_configuration(id, h->configuration);
    };
    p->get_configuration_func = [](void *priv, uint64_t id) {
        self(priv)->on_get_configuration(id);
    };
    p->set_alt_setting_func = [](void *priv, uint64_t id, usb_redir_set_alt_setting_header *h) {
        self(priv)->on_set_alt_setting(id, h->interface, h->alt);
    };
    p->get_alt_setting_func = [](void *priv, uint64_t id, usb_redir_get_alt_setting_header *h) {
        self(priv)->on_get_alt_setting(id, h->interface);
    };
    p->start_iso_stream_func = [](void *priv, uint64_t id, usb_redir_start_iso_stream_header *h) {
        self(priv)->on_start_iso_stream(id, h);
    };
    p->stop_iso_stream_func = [](void *priv, uint64_t id, usb_redir_stop_iso_stream_header *h) {
        self(priv)->on_stop_iso_stream(id, h->endpoint);
    };
    p->cancel_data_packet_func = [](void *priv, uint64_t id) { self(priv)->on_cancel(id); };
    p->device_disconnect_ack_func = [](void *priv) { self(priv)->on_disconnect_ack(); };
}

bool RedirDetector::serve(int fd, const volatile std::sig_atomic_t &stop) {
    fd_ = fd;
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    parser_ = usbredirparser_create();
    if (!parser_) return false;
    parser_->priv = this;
    install_callbacks(parser_);
    uint32_t caps[USB_REDIR_CAPS_SIZE] = {};
    for (int cap : {usb_redir_cap_connect_device_version, usb_redir_cap_device_disconnect_ack,
                    usb_redir_cap_ep_info_max_packet_size, usb_redir_cap_64bits_ids,
                    usb_redir_cap_32bits_bulk_length})
        usbredirparser_caps_set_cap(caps, cap);
    usbredirparser_init(parser_, "zvsim-usbredir", caps, USB_REDIR_CAPS_SIZE,
                        usbredirparser_fl_usb_host);

    bool ok = true;
    while (!stop && !peer_closed_) {
        pollfd p{fd_, short(POLLIN | (usbredirparser_has_data_to_write(parser_) ? POLLOUT : 0)), 0};
        if (poll(&p, 1, poll_timeout_ms(wall_seconds())) < 0 && errno != EINTR) {
            ok = false;
            break;
        }
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            const int r = usbredirparser_do_read(parser_);
            if (r == usbredirparser_read_io_error && !peer_closed_) {
                log_line("reading from the peer failed: %s", std::strerror(errno));
                ok = false;
                break;
            }
        }
        const double now = wall_seconds();
        if (!plugged_ && replug_at_ > 0 && now >= replug_at_ && !awaiting_disconnect_ack_) {
            power_up();
            plug();
        }
        stream(now);
        if (usbredirparser_has_data_to_write(parser_) &&
            usbredirparser_do_write(parser_) == usbredirparser_write_io_error) {
            peer_closed_ = true;
        }
    }
    log_line("peer %s; %llu control requests (%llu stalled), %llu stream packets sent",
             peer_closed_ ? "closed the connection" : "still connected",
             (unsigned long long)requests_, (unsigned long long)stalls_,
             (unsigned long long)packets_sent_);
    return ok;
}

} // namespace zve2e
