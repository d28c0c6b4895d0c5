// The C boundary: no C++ exception crosses the interface of libzv.h. Every extern "C" function
// whose body can throw (it allocates, locks, starts a thread, or calls code that does) runs that
// body through one of the guards below. An exception becomes the library's error convention: it
// is stored as the calling thread's last error and the function returns its failure value.
//   std::bad_alloc          49 "could not allocate memory"
//   std::logic_error        48 "invalid parameters passed" (std::invalid_argument, out_of_range)
//   anything else           58 "unexpected failure inside libzv"
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
// Functions that only read or write plain values (zv_get_error, zv_get_error_string,
// zv_get_version) cannot throw and need no guard.
#pragma once

#include <utility>

namespace zv {

// Stores the error the exception being handled stands for and returns its code. Only to be
// called from a catch block.
int store_current_exception() noexcept;

template <typename Body> int c_status(Body &&body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return store_current_exception();
    }
}

template <typename Result, typename Body> Result c_value(Result failure, Body &&body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        store_current_exception();
        return failure;
    }
}

template <typename Body> void c_void(Body &&body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
        store_current_exception();
    }
}

} // namespace zv
