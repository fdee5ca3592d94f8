// errors.cpp — the storage check that guards every construction of a sized state.
#include "python/binding/errors.hpp"

#include <unistd.h>

#include <string>

namespace vorn::py {

namespace {

std::size_t physical_memory_bytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return static_cast<std::size_t>(-1);
    const Size bytes = checked_mul(static_cast<std::size_t>(pages), static_cast<std::size_t>(page_size));
    return bytes ? *bytes : static_cast<std::size_t>(-1);
}

}  // namespace

bool check_storage(Size bytes) {
    if (!bytes) {
        PyErr_SetString(PyExc_OverflowError, "控制器状态的规模超出可表示的范围");
        return false;
    }
    if (*bytes > physical_memory_bytes()) {
        // The message is not ASCII, which PyErr_Format refuses in its format string.
        const std::string message = "控制器状态需要 " + std::to_string(*bytes) + " 字节，超出本机内存";
        PyErr_SetString(PyExc_MemoryError, message.c_str());
        return false;
    }
    return true;
}

}  // namespace vorn::py
