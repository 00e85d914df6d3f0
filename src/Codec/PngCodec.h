// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Codec/ContainerWalk.h"

#include <QByteArray>
#include <vips/vips8>

// PNG read and written with libdeflate, which inflates two and a half times
// as fast as zlib and deflates photos smaller at level 1 than zlib does at
// level 6. It works on whole buffers only, so only images that are held in
// memory anyway come here; libvips' own loader and saver, which stream, take
// everything else.
namespace PngCodec {

// A non-interlaced 8-bit grey or RGB PNG without transparency, as `header`
// (libvips' lazy load of it) describes, decoded whole and resampled to
// `width` x `height`, with `header`'s metadata. Empty when the file is any
// other kind, or when anything in it is off: libvips' loader then reads it
// and reports what is wrong.
vips::VImage decodeResized(ByteSpan png, const vips::VImage& header, int width, int height);

// `pixels` (one to four bands of 8 or 16 bits) as a PNG with the colour
// profile and resolution of `image`, the same pixels with the metadata to
// write, as libvips writes them, and no other metadata. Empty when the image
// is of another kind, or too large to be held twice.
QByteArray encode(const vips::VImage& pixels, const vips::VImage& image);

} // namespace PngCodec
