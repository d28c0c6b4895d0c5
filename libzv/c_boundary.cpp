#include "c_boundary.h"

#include <new>

namespace zv {

int store_current_exception(Error otherwise) noexcept {
    try {
        throw;
    } catch (const LibraryError &e) {
        return set_error_text(e.entry(), e.what());
    } catch (const std::bad_alloc &) {
        return set_error(Error::out_of_memory);
    } catch (const std::logic_error &) {
        return set_error(Error::invalid_parameters);
    } catch (const std::exception &e) {
        return set_error_text(otherwise, e.what());
    } catch (...) {
        return set_error(otherwise);
    }
}

} // namespace zv
