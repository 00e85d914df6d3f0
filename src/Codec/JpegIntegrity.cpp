// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/JpegIntegrity.h"

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE

#include <jpeglib.h>
// jpeglib.h first: jerror.h needs its types.
#include <jerror.h>

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf exit;
    bool damaged = false;
};

[[noreturn]] void leave(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->exit, 1);
}

void sortWarning(j_common_ptr info, int level) {
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    if (level < 0 && JpegIntegrity::isDamage(info->err->msg_code)) {
        errors->damaged = true;
        std::longjmp(errors->exit, 1); // one is enough
    }
}

struct Decompressor {
    jpeg_decompress_struct info{};
    ~Decompressor() { jpeg_destroy_decompress(&info); }
};

} // namespace

namespace JpegIntegrity {

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
    ErrorManager errors;
    Decompressor decompressor;
    jpeg_decompress_struct& info = decompressor.info;
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = leave;
    errors.pub.emit_message = sortWarning;
    // Nothing with a destructor is made from here on: the jump skips them.
    if (setjmp(errors.exit)) {
        if (errors.damaged)
            return Verdict::damaged;
        const int code = errors.pub.msg_code;
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
