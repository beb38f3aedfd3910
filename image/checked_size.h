#pragma once

#include <cstddef>
#include <optional>

// `a` × `b`, or nothing where the product does not fit in a size_t: every size a file's
// fields lead to is formed here.
inline std::optional<size_t> checkedProduct(size_t a, size_t b) {
    size_t product = 0;
    if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
    return product;
}
