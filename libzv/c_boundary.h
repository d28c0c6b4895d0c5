// The C boundary: no C++ exception crosses the interface of libzv.h. Every extern "C" function
// whose body can throw (it allocates, locks, starts a thread, or calls code that does) runs that
// body through one of the guards below. An exception becomes the library's error convention: it
// is stored as the calling thread's last error and the function returns its failure value.
//   zv::LibraryError        its entry's code with its composed message (a file name, a cause)
//   std::bad_alloc          49 "could not allocate memory"
//   std::logic_error        48 "invalid parameters passed" (std::invalid_argument, length_error)
//   other std::exception    the guard's `otherwise` entry's code, with the exception's text
//   anything else           the `otherwise` entry (by default 61 "unexpected failure inside libzv")
//
// Usage, by what the function returns:
//   int zv_set_thing(zv_device *dev, int x) {           // a status
//       return zv::c_status([&] { return set_thing(dev, x); });
//   }
//   uint32_t zv_get_thing(zv_device *dev) {             // a value with a failure value
//       return zv::c_value(kThingFailed, [&] { return dev->thing; });
//   }
//   void zv_do_thing(zv_device *dev) {                  // nothing
//       zv::c_void([&] { do_thing(dev); });
//   }
// Functions that only read or write plain values (zv_get_error, zv_get_version, the identity
// queries) cannot throw and need no guard.
//
// A guarded call is also one call for the interrupt check (interrupt.h): an interruption seen in
// any of its steps ends all of it.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

#include "errors.h"
#include "interrupt.h"

namespace zv {

// A failure a library area reports by throwing: stored as `entry`'s code with this message.
class LibraryError : public std::runtime_error {
  public:
    LibraryError(Error entry, const std::string &message)
        : std::runtime_error(message), entry_(entry) {}
    Error entry() const { return entry_; }

  private:
    Error entry_;
};

// Stores the error the exception being handled stands for and returns its code. Only to be
// called from a catch block.
int store_current_exception(Error otherwise) noexcept;

template <typename Body>
int c_status(Body &&body, Error otherwise = Error::unexpected_failure) noexcept {
    const InterruptibleCall call;
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return store_current_exception(otherwise);
    }
}

template <typename Result, typename Body>
Result c_value(Result failure, Body &&body, Error otherwise = Error::unexpected_failure) noexcept {
    const InterruptibleCall call;
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        store_current_exception(otherwise);
        return failure;
    }
}

template <typename Body>
void c_void(Body &&body, Error otherwise = Error::unexpected_failure) noexcept {
    const InterruptibleCall call;
    try {
        std::forward<Body>(body)();
    } catch (...) {
        store_current_exception(otherwise);
    }
}

} // namespace zv
