// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Codec/ContainerWalk.h"

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE

#include <jpeglib.h>

// Whether a JPEG's image data is whole. libjpeg goes on past damage with a
// warning, filling the rest with grey or blur, so a decode that "succeeds"
// proves nothing. This decodes the entropy-coded data once more, at 1/8
// scale where that is nearly all the work, and sorts libjpeg's warnings.
// libjpeg-turbo's fast Huffman decoder reads an invalid code as zero without
// a word wherever the next MCU is buffered whole, so a bad code is reported
// only near the end of a scan or in a progressive scan, as by every viewer.
namespace JpegIntegrity {

enum class Verdict {
    whole,       // no warning, or only those every viewer ignores
    damaged,     // cut short or desynchronised: part of the picture is made up
    unsupported, // a kind libjpeg is not built for, such as 12-bit samples
    unreadable,  // libjpeg gives up: the decoders will say so themselves
};

Verdict check(ByteSpan jpeg);

// libjpeg's warning codes that mean image data is missing or misread.
bool isDamage(int warningCode);

// A libjpeg decompressor, not yet created, whose errors and damage warnings
// jump to `exit`: the caller sets it with setjmp before any libjpeg call, and
// nothing made after that may need a destructor. `damaged` tells a damage
// warning from an error (whose code is in `errors.msg_code`).
struct Decompressor {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf exit{};
    bool damaged = false;

    Decompressor();
    ~Decompressor();
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

} // namespace JpegIntegrity
