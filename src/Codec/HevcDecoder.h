// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <libheif/heif.h>

// HEVC decoding for libheif: libde265, as libheif's own plugin drives it, but
// with worker threads. A picture coded in wavefronts, as x265 writes them,
// then decodes in rows side by side: a 12-MP picture in two thirds of the
// time on two cores, which the last files of a batch, or a lone one, would
// otherwise leave idle. Tiles of a grid (as phones write them) libheif
// already decodes side by side.
namespace HevcDecoder {

// From now on libheif decodes HEVC here, with up to `threads` threads per
// picture. Once, after heif_init() and before any decoding.
void registerWithLibheif(int threads);

// Whether libheif failed because the picture's data are damaged: libde265
// decodes damaged slices into garbage without an error, but warns about what
// it had to skip, which nothing undamaged makes it do.
bool isDamage(const heif_error& error);

} // namespace HevcDecoder
