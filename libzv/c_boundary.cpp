#include "c_boundary.h"

#include <new>
#include <stdexcept>

#include "errors.h"

namespace zv {

int store_current_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc &) {
        return set_error(Error::out_of_memory);
    } catch (const std::logic_error &) {
        return set_error(Error::invalid_parameters);
    } catch (...) {
        return set_error(Error::unexpected_failure);
    }
}

} // namespace zv
