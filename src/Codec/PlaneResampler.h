// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vips/vips8>
#include <zimg.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// One 8-bit image plane whose rows start on 64-byte boundaries, as zimg's
// vector code needs them.
class Plane {
public:
    Plane(int width, int height);
    int width() const { return m_width; }
    int height() const { return m_height; }
    std::ptrdiff_t stride() const { return m_stride; }
    std::uint8_t* row(int y) { return m_data.get() + std::ptrdiff_t(y) * m_stride; }
    const std::uint8_t* row(int y) const { return m_data.get() + std::ptrdiff_t(y) * m_stride; }

private:
    struct Free {
        void operator()(std::uint8_t* p) const;
    };
    int m_width;
    int m_height;
    std::ptrdiff_t m_stride;
    std::unique_ptr<std::uint8_t, Free> m_data;
};

// Lanczos3 resampling with zimg's vector code: several times faster than
// libvips 8.14's horizontal reducer, which costs as much as the JPEG decode.
namespace PlaneResampler {

// Resamples the region [0, sourceWidth) x [0, sourceHeight) of `source`, in
// its own pixels and possibly fractional, onto the top-left `targetWidth` x
// `targetHeight` pixels of `target`. False when zimg refuses.
bool resample(const Plane& source, double sourceWidth, double sourceHeight, Plane& target,
              int targetWidth, int targetHeight);

// 8-bit rows of any alignment, as another library holds them.
struct ForeignPlane {
    const std::uint8_t* data;
    std::ptrdiff_t stride;
    int width;
    int height;
};

// `source` whole resampled onto `target`, `targetWidth` x `targetHeight`.
// Its rows are copied into an aligned window of the few that the filter
// needs at a time, not into a plane of their own. False when zimg refuses.
bool resample(const ForeignPlane& source, Plane& target, int targetWidth, int targetHeight);

// A new 8-bit image of `bands` bands whose pixels are allocated, not set, to
// be written in place (rows of width * bands bytes, without padding).
vips::VImage memoryImage(int width, int height, int bands);

// `pixels`, a memory image made here and not yet shared, given the
// interpretation, resolution and every metadata field of `source`, as if the
// loader had made it.
vips::VImage withMetadataOf(const vips::VImage& pixels, const vips::VImage& source);

// How a picture's YCbCr planes relate to RGB and to one another.
struct YCbCrKind {
    zimg_matrix_coefficients_e matrix;
    bool fullRange;
    unsigned subsampleWidth; // log2 of the chroma planes' subsampling
    unsigned subsampleHeight;
    zimg_chroma_location_e siting;
};

// Y, Cb and Cr planes (chroma subsampled as `kind` says) resampled and
// converted to 8-bit RGB at exactly `width` x `height`, in one zimg pass;
// `metadataSource`'s fields as withMetadataOf gives them. Empty when zimg
// refuses.
vips::VImage rgbFromYCbCr(const std::vector<Plane>& planes, const YCbCrKind& kind, int width,
                          int height, const vips::VImage& metadataSource);

// The planes, one per band, as one interleaved image of `width` x `height`
// with `metadataSource`'s fields as withMetadataOf gives them.
vips::VImage interleaved(const std::vector<Plane>& planes, int width, int height,
                         const vips::VImage& metadataSource);

// The planes of one image, a band each, resampled to `width` x `height` and
// interleaved, with `metadataSource`'s fields as withMetadataOf gives them.
// Empty when zimg refuses.
vips::VImage resampled(std::vector<Plane> planes, int width, int height,
                       const vips::VImage& metadataSource);

// An 8-bit image of one to four bands, without alpha, scaled to exactly
// `width` x `height`; its metadata is kept. Empty when zimg refuses.
vips::VImage resize(const vips::VImage& image, int width, int height);

} // namespace PlaneResampler
