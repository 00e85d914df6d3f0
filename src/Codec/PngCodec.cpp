// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/PngCodec.h"

#include "Codec/MetadataEdits.h"
#include "Codec/PlaneResampler.h"
#include "Runtime/Deleter.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

// The format's row filters, by the numbers rows carry.
enum class Filter : std::uint8_t { none, sub, up, average, paeth };

using Decompressor =
    std::unique_ptr<libdeflate_decompressor, Deleter<libdeflate_free_decompressor>>;
using Compressor = std::unique_ptr<libdeflate_compressor, Deleter<libdeflate_free_compressor>>;

// The Paeth predictor without branches the compiler cannot turn into moves.
inline std::uint8_t paeth(int left, int above, int aboveLeft) {
    const int towardsLeft = std::abs(above - aboveLeft);
    const int towardsAbove = std::abs(left - aboveLeft);
    const int towardsCorner = std::abs(left + above - 2 * aboveLeft);
    if (towardsLeft <= towardsAbove && towardsLeft <= towardsCorner)
        return std::uint8_t(left);
    return std::uint8_t(towardsAbove <= towardsCorner ? above : aboveLeft);
}

// Each filter once per pixel size, so that the compiler unrolls the bytes of
// a pixel; `previous` is a row of zeros for the first row.
template <int Bpp>
void unfilter(Filter filter, std::uint8_t* row, const std::uint8_t* previous, std::size_t length) {
    switch (filter) {
    case Filter::none:
        return;
    case Filter::sub:
        for (std::size_t i = Bpp; i < length; ++i)
            row[i] = std::uint8_t(row[i] + row[i - Bpp]);
        return;
    case Filter::up:
        for (std::size_t i = 0; i < length; ++i)
            row[i] = std::uint8_t(row[i] + previous[i]);
        return;
    case Filter::average:
        for (std::size_t i = 0; i < std::min<std::size_t>(Bpp, length); ++i)
            row[i] = std::uint8_t(row[i] + (previous[i] >> 1));
        for (std::size_t i = Bpp; i < length; ++i)
            row[i] = std::uint8_t(row[i] + ((row[i - Bpp] + previous[i]) >> 1));
        return;
    case Filter::paeth:
        for (std::size_t i = 0; i < std::min<std::size_t>(Bpp, length); ++i)
            row[i] = std::uint8_t(row[i] + previous[i]);
        for (std::size_t i = Bpp; i < length; ++i)
            row[i] = std::uint8_t(row[i] + paeth(row[i - Bpp], previous[i], previous[i - Bpp]));
        return;
    }
}

template <int Bpp>
void filter(Filter filter, const std::uint8_t* row, const std::uint8_t* previous, std::uint8_t* out,
            std::size_t length) {
    const auto left = [&](std::size_t i) { return i >= Bpp ? row[i - Bpp] : 0; };
    const auto corner = [&](std::size_t i) { return i >= Bpp ? previous[i - Bpp] : 0; };
    switch (filter) {
    case Filter::none:
        std::memcpy(out, row, length);
        return;
    case Filter::sub:
        for (std::size_t i = 0; i < length; ++i)
            out[i] = std::uint8_t(row[i] - left(i));
        return;
    case Filter::up:
        for (std::size_t i = 0; i < length; ++i)
            out[i] = std::uint8_t(row[i] - previous[i]);
        return;
    case Filter::average:
        for (std::size_t i = 0; i < length; ++i)
            out[i] = std::uint8_t(row[i] - ((left(i) + previous[i]) >> 1));
        return;
    case Filter::paeth:
        for (std::size_t i = 0; i < length; ++i)
            out[i] = std::uint8_t(row[i] - paeth(left(i), previous[i], corner(i)));
        return;
    }
}

// Calls `f` with the pixel size as a constant.
template <typename F> void withPixelSize(int bytesPerPixel, F&& f) {
    switch (bytesPerPixel) {
    case 1:
        return f(std::integral_constant<int, 1>{});
    case 2:
        return f(std::integral_constant<int, 2>{});
    case 3:
        return f(std::integral_constant<int, 3>{});
    case 4:
        return f(std::integral_constant<int, 4>{});
    case 6:
        return f(std::integral_constant<int, 6>{});
    case 8:
        return f(std::integral_constant<int, 8>{});
    }
}

// What the decoder needs to know of a PNG it takes on.
struct Layout {
    int width = 0;
    int height = 0;
    int bands = 0;
    std::vector<ByteSpan> data; // the IDAT chunks' data, in order
};

// Only what libpng would read without a transform or a complaint: one IHDR,
// 8-bit grey or RGB, no transparency, the image data in one run of IDAT
// chunks, an IEND, and no critical chunk the format does not define.
std::optional<Layout> layoutOf(ByteSpan png) {
    if (!ContainerWalk::isPng(png))
        return std::nullopt;
    Layout layout;
    ContainerWalk::PngChunks walk(png);
    bool header = false;
    bool dataEnded = false;
    while (const std::optional<ContainerWalk::PngChunk> chunk = walk.next()) {
        if (!chunk->whole)
            return std::nullopt;
        const unsigned char* data = png.data() + chunk->offset + 8;
        if (!header) {
            if (!chunk->is("IHDR") || chunk->length != 13 || !ContainerWalk::crcHolds(png, *chunk))
                return std::nullopt;
            const std::uint32_t width = ContainerWalk::read32(data);
            const std::uint32_t height = ContainerWalk::read32(data + 4);
            const unsigned depth = data[8], colour = data[9];
            if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF ||
                depth != 8 || (colour != 0 && colour != 2) || data[10] != 0 || data[11] != 0 ||
                data[12] != 0)
                return std::nullopt;
            layout.width = int(width);
            layout.height = int(height);
            layout.bands = colour == 2 ? 3 : 1;
            header = true;
            continue;
        }
        if (chunk->is("IDAT")) {
            if (dataEnded || !ContainerWalk::crcHolds(png, *chunk))
                return std::nullopt;
            layout.data.push_back(png.subspan(chunk->offset + 8, chunk->length));
            continue;
        }
        if (!layout.data.empty())
            dataEnded = true;
        if (chunk->is("IEND"))
            return layout.data.empty() ? std::nullopt : std::optional(std::move(layout));
        const bool critical = (chunk->type[0] & 0x20) == 0;
        if (chunk->is("tRNS") || (critical && !chunk->is("PLTE")))
            return std::nullopt;
    }
    return std::nullopt; // no IEND: libpng decides what a short file is worth
}

// Inflated rows, each after its filter byte: (1 + width * bands) * height.
std::unique_ptr<std::uint8_t[]> inflated(const Layout& layout, std::size_t size) {
    std::vector<unsigned char> joined;
    ByteSpan stream = layout.data.front();
    if (layout.data.size() > 1) {
        std::size_t total = 0;
        for (ByteSpan part : layout.data)
            total += part.size();
        joined.reserve(total);
        for (ByteSpan part : layout.data)
            joined.insert(joined.end(), part.begin(), part.end());
        stream = ByteSpan(joined.data(), joined.size());
    }
    const Decompressor decompressor(libdeflate_alloc_decompressor());
    auto rows = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    // Exactly the rows' size, and a valid Adler-32: anything else is libpng's to judge.
    if (!decompressor ||
        libdeflate_zlib_decompress(decompressor.get(), stream.data(), stream.size(), rows.get(),
                                   size, nullptr) != LIBDEFLATE_SUCCESS)
        return nullptr;
    return rows;
}

// Up to this many bytes of filtered rows are encoded here; larger images
// stream through libvips' saver, which holds a few rows at a time.
constexpr std::size_t largestEncodedRows = 16 * 1024 * 1024;

// libpng writes a profile only when its header agrees with its size.
bool plausibleProfile(const unsigned char* icc, std::size_t size) {
    return size >= 132 && ContainerWalk::read32(icc) == size &&
           std::memcmp(icc + 36, "acsp", 4) == 0;
}

// The filter for every row, tried on a few bands of rows spread over the
// image: on photos "average" gives the smallest files, on screenshots and
// drawings "none" or "paeth", by a third either way. Also whether the image
// is so compressible that deflate's slower levels cost nothing.
struct Choice {
    Filter filter = Filter::average;
    int level = 1;
};

template <int Bpp>
Choice chosenFilter(const std::vector<const std::uint8_t*>& rows, std::size_t rowBytes,
                    libdeflate_compressor* compressor) {
    constexpr int bands = 4, rowsPerBand = 8;
    const int height = int(rows.size());
    std::vector<int> sample;
    for (int band = 0; band < bands; ++band) {
        const int top = int(std::int64_t(height) * (2 * band + 1) / (2 * bands));
        for (int y = top; y < std::min(height, top + rowsPerBand); ++y)
            if (sample.empty() || y > sample.back())
                sample.push_back(y);
    }
    std::vector<std::uint8_t> filtered(sample.size() * rowBytes);
    std::vector<std::uint8_t> compressed(
        libdeflate_zlib_compress_bound(compressor, filtered.size()));
    Choice best;
    std::size_t smallest = SIZE_MAX;
    const std::vector<std::uint8_t> zeros(rowBytes, 0);
    for (Filter candidate : {Filter::average, Filter::none, Filter::up, Filter::paeth}) {
        for (std::size_t i = 0; i < sample.size(); ++i) {
            const int y = sample[i];
            filter<Bpp>(candidate, rows[size_t(y)], y > 0 ? rows[size_t(y - 1)] : zeros.data(),
                        filtered.data() + i * rowBytes, rowBytes);
        }
        const std::size_t size = libdeflate_zlib_compress(
            compressor, filtered.data(), filtered.size(), compressed.data(), compressed.size());
        if (size > 0 && size < smallest) {
            smallest = size;
            best.filter = candidate;
        }
    }
    // Photos deflate to about half: level 6 would take twice as long for 2%.
    // Flat images deflate to a tenth or less, where level 6 is as quick.
    best.level = smallest != SIZE_MAX && smallest * 4 <= filtered.size() ? 6 : 1;
    return best;
}

} // namespace

namespace PngCodec {

vips::VImage decodeResized(ByteSpan png, const vips::VImage& header, int width, int height) {
    const std::optional<Layout> layout = layoutOf(png);
    if (!layout || layout->width != header.width() || layout->height != header.height() ||
        layout->bands != header.bands() || header.format() != VIPS_FORMAT_UCHAR)
        return {};
    const int bands = layout->bands;
    const std::size_t rowBytes = std::size_t(layout->width) * std::size_t(bands);
    const std::size_t stride = rowBytes + 1;
    const std::unique_ptr<std::uint8_t[]> rows =
        inflated(*layout, stride * std::size_t(layout->height));
    if (!rows)
        return {};

    std::vector<Plane> planes;
    for (int band = 0; band < bands; ++band)
        planes.emplace_back(layout->width, layout->height);
    const std::vector<std::uint8_t> zeros(rowBytes, 0);
    bool whole = true;
    withPixelSize(bands, [&](auto bpp) {
        constexpr int Bpp = decltype(bpp)::value;
        for (int y = 0; y < layout->height; ++y) {
            std::uint8_t* row = rows.get() + std::size_t(y) * stride;
            const std::uint8_t* previous = y > 0 ? row - stride + 1 : zeros.data();
            if (row[0] > std::uint8_t(Filter::paeth)) {
                whole = false; // libpng: "bad adaptive filter value"
                return;
            }
            unfilter<Bpp>(Filter(row[0]), row + 1, previous, rowBytes);
            for (int band = 0; band < Bpp; ++band) {
                std::uint8_t* out = planes[size_t(band)].row(y);
                const std::uint8_t* in = row + 1 + band;
                for (int x = 0; x < layout->width; ++x)
                    out[x] = in[std::size_t(x) * Bpp];
            }
        }
    });
    if (!whole)
        return {};
    return PlaneResampler::resampled(std::move(planes), width, height, header);
}

QByteArray encode(const vips::VImage& pixels, const vips::VImage& image) {
    const int bands = pixels.bands();
    const VipsBandFormat format = pixels.format();
    if (bands < 1 || bands > 4 || (format != VIPS_FORMAT_UCHAR && format != VIPS_FORMAT_USHORT))
        return {};
    const int sampleBytes = format == VIPS_FORMAT_USHORT ? 2 : 1;
    const int bytesPerPixel = bands * sampleBytes;
    const std::size_t rowBytes = std::size_t(pixels.width()) * std::size_t(bytesPerPixel);
    const int height = pixels.height();
    if ((rowBytes + 1) * std::size_t(height) > largestEncodedRows)
        return {};

    const unsigned char* icc = nullptr;
    std::size_t iccSize = 0;
    if (image.get_typeof(VIPS_META_ICC_NAME)) {
        icc = static_cast<const unsigned char*>(image.get_blob(VIPS_META_ICC_NAME, &iccSize));
        if (!plausibleProfile(icc, iccSize))
            return {};
    }

    // The pixels as the format stores them: 16-bit samples big-endian.
    const vips::VRegion region = vips::VRegion::new_from_image(pixels);
    region.prepare(0, 0, pixels.width(), height);
    std::vector<std::uint8_t> swapped;
    if (sampleBytes == 2)
        swapped.resize(rowBytes * std::size_t(height));
    std::vector<const std::uint8_t*> rows(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const std::uint8_t*>(region.addr(0, y));
        if (sampleBytes == 2) {
            std::uint8_t* out = swapped.data() + std::size_t(y) * rowBytes;
            for (std::size_t i = 0; i < rowBytes; i += 2) {
                std::uint16_t sample;
                std::memcpy(&sample, row + i, 2);
                out[i] = std::uint8_t(sample >> 8);
                out[i + 1] = std::uint8_t(sample);
            }
            row = out;
        }
        rows[size_t(y)] = row;
    }

    const Compressor fast(libdeflate_alloc_compressor(1));
    if (!fast)
        return {};
    Choice choice;
    withPixelSize(bytesPerPixel, [&](auto bpp) {
        choice = chosenFilter<decltype(bpp)::value>(rows, rowBytes, fast.get());
    });
    const std::size_t stride = rowBytes + 1;
    std::vector<std::uint8_t> filtered(stride * std::size_t(height));
    const std::vector<std::uint8_t> zeros(rowBytes, 0);
    withPixelSize(bytesPerPixel, [&](auto bpp) {
        for (int y = 0; y < height; ++y) {
            std::uint8_t* out = filtered.data() + std::size_t(y) * stride;
            out[0] = std::uint8_t(choice.filter);
            filter<decltype(bpp)::value>(choice.filter, rows[size_t(y)],
                                         y > 0 ? rows[size_t(y - 1)] : zeros.data(), out + 1,
                                         rowBytes);
        }
    });
    swapped = {};

    const Compressor compressor(choice.level == 1 ? nullptr
                                                  : libdeflate_alloc_compressor(choice.level));
    libdeflate_compressor* chosen = compressor ? compressor.get() : fast.get();

    QByteArray png(ContainerWalk::pngSignature.data(),
                   qsizetype(ContainerWalk::pngSignature.size()));
    std::array<unsigned char, 13> ihdr{};
    const auto put32 = [](unsigned char* p, std::uint32_t v) {
        p[0] = std::uint8_t(v >> 24), p[1] = std::uint8_t(v >> 16), p[2] = std::uint8_t(v >> 8),
        p[3] = std::uint8_t(v);
    };
    put32(ihdr.data(), std::uint32_t(pixels.width()));
    put32(ihdr.data() + 4, std::uint32_t(height));
    ihdr[8] = std::uint8_t(8 * sampleBytes);
    static constexpr std::array<unsigned char, 5> colourTypes{0, 0, 4, 2, 6}; // by bands
    ihdr[9] = colourTypes[size_t(bands)];
    MetadataEdits::appendPngChunk(png, "IHDR", ihdr.data(), ihdr.size());
    if (icc) {
        // Named as libvips names it, deflated as libpng does by default.
        const Compressor profileCompressor(libdeflate_alloc_compressor(6));
        std::vector<unsigned char> profile(5 + libdeflate_zlib_compress_bound(nullptr, iccSize));
        std::memcpy(profile.data(), "icc\0\0", 5);
        const std::size_t deflated =
            profileCompressor ? libdeflate_zlib_compress(profileCompressor.get(), icc, iccSize,
                                                         profile.data() + 5, profile.size() - 5)
                              : 0;
        if (deflated == 0)
            return {};
        MetadataEdits::appendPngChunk(png, "iCCP", profile.data(), 5 + deflated);
    }
    // libvips keeps the resolution in pixels per millimetre.
    std::array<unsigned char, 9> phys{};
    put32(phys.data(), std::uint32_t(std::lround(std::clamp(image.xres() * 1000, 0.0, 2e9))));
    put32(phys.data() + 4, std::uint32_t(std::lround(std::clamp(image.yres() * 1000, 0.0, 2e9))));
    phys[8] = 1; // per metre
    MetadataEdits::appendPngChunk(png, "pHYs", phys.data(), phys.size());

    std::vector<std::uint8_t> compressed(libdeflate_zlib_compress_bound(chosen, filtered.size()));
    const std::size_t size = libdeflate_zlib_compress(chosen, filtered.data(), filtered.size(),
                                                      compressed.data(), compressed.size());
    if (size == 0)
        return {};
    filtered = {};
    // In chunks of 256 KB, so that no reader has to take a chunk of megabytes.
    constexpr std::size_t chunkBytes = 256 * 1024;
    for (std::size_t at = 0; at < size; at += chunkBytes)
        MetadataEdits::appendPngChunk(png, "IDAT", compressed.data() + at,
                                      std::min(chunkBytes, size - at));
    MetadataEdits::appendPngChunk(png, "IEND", nullptr, 0);
    return png;
}

} // namespace PngCodec
