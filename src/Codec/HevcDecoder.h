// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <libheif/heif.h>

#include <optional>

// HEVC decoding for libheif with worker threads. libheif's own plugin gives
// libde265 one; a picture coded in wavefronts, as x265 writes them, decodes
// in rows side by side with more: a 12-MP picture in two thirds of the time
// on two cores, which the last files of a batch, or a lone one, would
// otherwise leave idle. (Tiles of a grid, as phones write them, libheif
// already decodes side by side.) Before libheif 1.19 that takes a plugin of
// our own, libde265 driven as libheif's plugin drives it; from 1.21 on
// libheif passes a thread count to its plugin with each decode.
namespace HevcDecoder {

// Up to `threads` threads per HEVC picture from now on: before libheif 1.19
// by registering our plugin; from 1.21 on through decodeOptions(). Once,
// after heif_init() and before any decoding.
void useThreads(int threads);

// Options for heif_decode_image() that carry the thread count where libheif
// takes one (null otherwise, libheif's defaults); freed by the caller.
heif_decoding_options* decodeOptions();

// Whether libheif failed because the picture's data are damaged. libde265
// decodes damaged slices into garbage without an error, but warns about what
// it had to skip, which nothing undamaged makes it do: our plugin turns that
// into a failure. libheif's own plugin ignores those warnings.
bool isDamage(const heif_error& error);

// Before 1.19 libheif turns each decoded picture into RGB itself, a float
// at a time on one thread: 75 ms of a 12-MP HEIC, most of it while the last
// file of a batch has the machine to itself. While one of these lives, our
// plugin hands over a picture of `handle`'s coded size that it decodes on
// this thread in RGB already, to the same bits, and libheif leaves it as it
// is. (libheif decodes the tiles of a grid on threads of its own.) Not for
// a handle with alpha, and only where our plugin decodes.
struct RgbPictures {
    explicit RgbPictures(heif_image_handle* handle);
    ~RgbPictures();
    RgbPictures(const RgbPictures&) = delete;
    RgbPictures& operator=(const RgbPictures&) = delete;

    int width = 0;
    int height = 0;
    // The file's own colour description, which libheif prefers to the stream's.
    std::optional<heif_color_profile_nclx> profile;
    int delivered = 0; // pictures handed over in RGB
};

// Whether damaged data fail the decode, as isDamage() tells: with our plugin.
bool reportsDamage();

// Whether the libheif running is 1.`minor` or later.
bool libheifAtLeast(int minor);

} // namespace HevcDecoder
