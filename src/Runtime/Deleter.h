// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// For std::unique_ptr over a C library's object: frees it with the library's
// own function, e.g. std::unique_ptr<heif_image, Deleter<heif_image_release>>.
template <auto Free> struct Deleter {
    template <typename T> void operator()(T* p) const { Free(p); }
};
