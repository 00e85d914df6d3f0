// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/JpegIntegrity.h"

// After jpeglib.h, which the header brings: jerror.h needs its types.
#include <jerror.h>

namespace {

// jpeg_create_decompress keeps client_data, as it keeps err.
JpegIntegrity::Decompressor& owner(j_common_ptr info) {
    return *static_cast<JpegIntegrity::Decompressor*>(info->client_data);
}

[[noreturn]] void leave(j_common_ptr info) {
    std::longjmp(owner(info).exit, 1);
}

void stopAtDamage(j_common_ptr info, int level) {
    if (level < 0 && JpegIntegrity::isDamage(info->err->msg_code)) {
        owner(info).damaged = true;
        std::longjmp(owner(info).exit, 1); // one is enough
    }
}

} // namespace

namespace JpegIntegrity {

Decompressor::Decompressor() {
    info.client_data = this;
    info.err = jpeg_std_error(&errors);
    errors.error_exit = leave;
    errors.emit_message = stopAtDamage;
}

Decompressor::~Decompressor() {
    jpeg_destroy_decompress(&info);
}

bool isDamage(int warningCode) {
    switch (warningCode) {
    case JWRN_JPEG_EOF:       // premature end of file
    case JWRN_HIT_MARKER:     // premature end of a scan's data
    case JWRN_HUFF_BAD_CODE:  // a code no table has
    case JWRN_ARITH_BAD_CODE: // the same, arithmetic-coded
    case JWRN_MUST_RESYNC:    // a restart marker missing or out of turn
        return true;
    default:
        return false;
    }
}

Verdict check(ByteSpan jpeg) {
    Decompressor decompressor;
    jpeg_decompress_struct& info = decompressor.info;
    // Nothing with a destructor is made from here on: the jump skips them.
    if (setjmp(decompressor.exit)) {
        if (decompressor.damaged)
            return Verdict::damaged;
        const int code = decompressor.errors.msg_code;
        return code == JERR_BAD_PRECISION || code == JERR_SOF_UNSUPPORTED ? Verdict::unsupported
                                                                          : Verdict::unreadable;
    }
    jpeg_create_decompress(&info);
    // The whole file at once, as TurboJPEG and libvips' loader see it: the
    // same decoder, so the same warnings.
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    // At 1/8 each block is its DC term: the Huffman decoding is the whole
    // cost, and it reads every bit that a full decode would.
    info.scale_num = 1;
    info.scale_denom = 8;
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
    info.do_block_smoothing = FALSE;
    jpeg_start_decompress(&info);
    JSAMPARRAY row = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                               info.output_width * info.output_components, 1);
    while (info.output_scanline < info.output_height)
        jpeg_read_scanlines(&info, row, 1);
    jpeg_finish_decompress(&info);
    return Verdict::whole;
}

} // namespace JpegIntegrity
