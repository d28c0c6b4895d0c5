#include "reader_claim.h"

#include "libzv/errors.h"

namespace zv {
namespace {

// The claimant the calling thread acts for (null on the program's own threads).
thread_local const void *t_acting_for = nullptr;

} // namespace

bool ReaderClaim::claim(const void *owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (owner_ != nullptr) return set_error(Error::stream_recorded_already), false;
    if (reads_ > 0) return set_error(Error::stream_read_in_progress), false;
    owner_ = owner;
    return true;
}

void ReaderClaim::release(const void *owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (owner_ == owner) owner_ = nullptr;
}

bool ReaderClaim::claimed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return owner_ != nullptr;
}

bool ReaderClaim::allows_caller() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (owner_ != nullptr && owner_ != t_acting_for)
        return set_error(Error::stream_being_recorded), false;
    return true;
}

bool ReaderClaim::begin_read() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (owner_ != nullptr && owner_ != t_acting_for)
        return set_error(Error::stream_being_recorded), false;
    ++reads_;
    return true;
}

void ReaderClaim::end_read() {
    std::lock_guard<std::mutex> lock(mutex_);
    --reads_;
}

ActingFor::ActingFor(const void *owner) : previous_(t_acting_for) {
    t_acting_for = owner;
}

ActingFor::~ActingFor() {
    t_acting_for = previous_;
}

} // namespace zv
