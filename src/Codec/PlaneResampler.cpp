// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/PlaneResampler.h"

#include "Runtime/Deleter.h"

#include <zimg.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr std::ptrdiff_t alignment = 64;

std::ptrdiff_t alignedUp(std::ptrdiff_t n) {
    return (n + alignment - 1) / alignment * alignment;
}

struct MemoryFree {
    void operator()(void* p) const { std::free(p); }
};

zimg_image_format byteFormat(int width, int height, zimg_color_family_e family) {
    zimg_image_format format;
    zimg_image_format_default(&format, ZIMG_API_VERSION);
    format.width = unsigned(width);
    format.height = unsigned(height);
    format.pixel_type = ZIMG_PIXEL_BYTE;
    format.color_family = family;
    format.pixel_range = ZIMG_RANGE_FULL;
    return format;
}

zimg_image_format greyFormat(int width, int height) {
    return byteFormat(width, height, ZIMG_COLOR_GREY);
}

zimg_graph_builder_params lanczos3() {
    zimg_graph_builder_params params;
    zimg_graph_builder_params_default(&params, ZIMG_API_VERSION);
    params.resample_filter = ZIMG_RESIZE_LANCZOS;
    params.filter_param_a = 3;
    params.resample_filter_uv = ZIMG_RESIZE_LANCZOS;
    params.filter_param_a_uv = 3;
    params.cpu_type = ZIMG_CPU_AUTO;
    return params;
}

// The scratch memory `graph` needs; null when zimg cannot say.
std::unique_ptr<void, MemoryFree> scratchFor(const zimg_filter_graph& graph) {
    size_t size = 0;
    if (zimg_filter_graph_get_tmp_size(&graph, &size) != ZIMG_ERROR_SUCCESS)
        return nullptr;
    std::unique_ptr<void, MemoryFree> scratch(
        std::aligned_alloc(alignment, size_t(alignedUp(std::ptrdiff_t(size) + 1))));
    if (!scratch)
        throw std::bad_alloc();
    return scratch;
}

// What a filter graph depends on. Photos of one camera share their size, so a
// batch builds its graphs once per worker thread instead of three times per
// file (building weighs the Lanczos taps with sin() for every output pixel).
struct GraphKey {
    int planeWidth;
    int planeHeight;
    double regionWidth;
    double regionHeight;
    int targetWidth;
    int targetHeight;
    bool operator==(const GraphKey&) const = default;
};

struct CachedGraph {
    GraphKey key;
    std::unique_ptr<zimg_filter_graph, Deleter<zimg_filter_graph_free>> graph;
    std::unique_ptr<void, MemoryFree> temporary;
};

std::unique_ptr<zimg_filter_graph, Deleter<zimg_filter_graph_free>>
buildGraph(const GraphKey& key) {
    zimg_image_format from = greyFormat(key.planeWidth, key.planeHeight);
    from.active_region.left = 0;
    from.active_region.top = 0;
    from.active_region.width = key.regionWidth;
    from.active_region.height = key.regionHeight;
    const zimg_image_format to = greyFormat(key.targetWidth, key.targetHeight);

    const zimg_graph_builder_params params = lanczos3();
    return std::unique_ptr<zimg_filter_graph, Deleter<zimg_filter_graph_free>>(
        zimg_filter_graph_build(&from, &to, &params));
}

// The graph for `key` with its scratch memory, built on first use; null when
// zimg refuses. A luma and a chroma graph per size, and room for a second size.
const CachedGraph* graphFor(const GraphKey& key) {
    constexpr size_t kept = 4;
    thread_local std::vector<CachedGraph> graphs = [] {
        std::vector<CachedGraph> reserved;
        reserved.reserve(kept);
        return reserved;
    }();
    thread_local size_t next = 0;
    for (const CachedGraph& cached : graphs) {
        if (cached.key == key)
            return &cached;
    }
    auto graph = buildGraph(key);
    auto temporary = graph ? scratchFor(*graph) : nullptr;
    if (!temporary)
        return nullptr;
    CachedGraph entry{key, std::move(graph), std::move(temporary)};
    if (graphs.size() < kept) {
        graphs.push_back(std::move(entry));
        return &graphs.back();
    }
    graphs[next] = std::move(entry);
    const CachedGraph* stored = &graphs[next];
    next = (next + 1) % kept;
    return stored;
}

} // namespace

Plane::Plane(int width, int height)
    : m_width(width), m_height(height), m_stride(alignedUp(std::max(width, 1))),
      m_data(static_cast<std::uint8_t*>(
          std::aligned_alloc(alignment, size_t(m_stride) * size_t(std::max(height, 1))))) {
    if (!m_data)
        throw std::bad_alloc();
}

void Plane::Free::operator()(std::uint8_t* p) const {
    std::free(p);
}

namespace PlaneResampler {

vips::VImage interleaved(const std::vector<Plane>& planes, int width, int height,
                         const vips::VImage& metadataSource) {
    const int bands = int(planes.size());
    const vips::VImage image = memoryImage(width, height, bands);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* out = VIPS_IMAGE_ADDR(image.get_image(), 0, y);
        for (int band = 0; band < bands; ++band) {
            const std::uint8_t* in = planes[size_t(band)].row(y);
            for (int x = 0; x < width; ++x)
                out[x * bands + band] = in[x];
        }
    }
    return withMetadataOf(image, metadataSource);
}

bool resample(const Plane& source, double sourceWidth, double sourceHeight, Plane& target,
              int targetWidth, int targetHeight) {
    const GraphKey key{source.width(), source.height(), sourceWidth,
                       sourceHeight,   targetWidth,     targetHeight};
    const CachedGraph* cached = graphFor(key);
    if (!cached)
        return false;
    zimg_image_buffer_const in{};
    in.version = ZIMG_API_VERSION;
    in.plane[0] = {source.row(0), source.stride(), ZIMG_BUFFER_MAX};
    zimg_image_buffer out{};
    out.version = ZIMG_API_VERSION;
    out.plane[0] = {target.row(0), target.stride(), ZIMG_BUFFER_MAX};
    return zimg_filter_graph_process(cached->graph.get(), &in, &out, cached->temporary.get(),
                                     nullptr, nullptr, nullptr, nullptr) == ZIMG_ERROR_SUCCESS;
}

bool resample(const ForeignPlane& source, Plane& target, int targetWidth, int targetHeight) {
    const GraphKey key{source.width,          source.height, double(source.width),
                       double(source.height), targetWidth,   targetHeight};
    const CachedGraph* cached = graphFor(key);
    unsigned lines = 0;
    if (!cached ||
        zimg_filter_graph_get_input_buffering(cached->graph.get(), &lines) != ZIMG_ERROR_SUCCESS)
        return false;
    const unsigned mask = zimg_select_buffer_mask(lines);
    Plane window(source.width, mask == ZIMG_BUFFER_MAX ? source.height : int(mask + 1));
    struct Rows {
        const ForeignPlane& source;
        Plane& window;
        unsigned mask;
        static int copy(void* user, unsigned i, unsigned left, unsigned right) {
            const auto* rows = static_cast<const Rows*>(user);
            std::memcpy(rows->window.row(int(i & rows->mask)) + left,
                        rows->source.data + std::ptrdiff_t(i) * rows->source.stride + left,
                        right - left);
            return 0;
        }
    } rows{source, window, mask};
    zimg_image_buffer_const in{};
    in.version = ZIMG_API_VERSION;
    in.plane[0] = {window.row(0), window.stride(), mask};
    zimg_image_buffer out{};
    out.version = ZIMG_API_VERSION;
    out.plane[0] = {target.row(0), target.stride(), ZIMG_BUFFER_MAX};
    return zimg_filter_graph_process(cached->graph.get(), &in, &out, cached->temporary.get(),
                                     &Rows::copy, &rows, nullptr, nullptr) == ZIMG_ERROR_SUCCESS;
}

vips::VImage memoryImage(int width, int height, int bands) {
    vips::VImage image(vips_image_new_memory());
    vips_image_init_fields(
        image.get_image(), width, height, bands, VIPS_FORMAT_UCHAR, VIPS_CODING_NONE,
        bands < 3 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB, 1.0, 1.0);
    if (vips_image_write_prepare(image.get_image()) != 0)
        throw vips::VError();
    return image;
}

vips::VImage withMetadataOf(const vips::VImage& pixels, const vips::VImage& source) {
    // Set on the image itself rather than on a copy of it: a copy is a
    // pipeline stage, and every reader of it would render the whole image
    // into a new buffer again.
    vips::VImage image = pixels;
    VipsImage* raw = image.get_image();
    raw->Type = source.interpretation();
    raw->Xres = source.xres();
    raw->Yres = source.yres();
    const std::unique_ptr<gchar*, Deleter<g_strfreev>> fields(
        vips_image_get_fields(source.get_image()));
    for (gchar** field = fields.get(); *field; ++field) {
        if (image.get_typeof(*field)) // a header field every image has
            continue;
        GValue value = G_VALUE_INIT;
        if (vips_image_get(source.get_image(), *field, &value) == 0) {
            vips_image_set(image.get_image(), *field, &value);
            g_value_unset(&value);
        }
    }
    return image;
}

vips::VImage resize(const vips::VImage& image, int width, int height) {
    const int bands = image.bands();
    const int sourceWidth = image.width();
    const int sourceHeight = image.height();

    std::vector<Plane> from;
    for (int band = 0; band < bands; ++band)
        from.emplace_back(sourceWidth, sourceHeight);
    // Strip by strip, top to bottom, as a sequential loader delivers them:
    // the decoded image is never held whole besides its planes.
    const vips::VRegion region = vips::VRegion::new_from_image(image);
    constexpr int strip = 64;
    for (int top = 0; top < sourceHeight; top += strip) {
        const int rows = std::min(strip, sourceHeight - top);
        region.prepare(0, top, sourceWidth, rows);
        for (int y = top; y < top + rows; ++y) {
            const std::uint8_t* in = region.addr(0, y);
            for (int band = 0; band < bands; ++band) {
                std::uint8_t* out = from[size_t(band)].row(y);
                for (int x = 0; x < sourceWidth; ++x)
                    out[x] = in[x * bands + band];
            }
        }
    }
    return resampled(std::move(from), width, height, image);
}

vips::VImage resampled(std::vector<Plane> planes, int width, int height,
                       const vips::VImage& metadataSource) {
    std::vector<Plane> to;
    for (const Plane& plane : planes) {
        Plane& target = to.emplace_back(width, height);
        if (!resample(plane, plane.width(), plane.height(), target, width, height))
            return {};
    }
    planes.clear();
    return interleaved(to, width, height, metadataSource);
}

vips::VImage rgbFromYCbCr(const std::vector<Plane>& planes, const YCbCrKind& kind, int width,
                          int height, const vips::VImage& metadataSource) {
    zimg_image_format from = byteFormat(planes[0].width(), planes[0].height(), ZIMG_COLOR_YUV);
    from.matrix_coefficients = kind.matrix;
    from.pixel_range = kind.fullRange ? ZIMG_RANGE_FULL : ZIMG_RANGE_LIMITED;
    from.subsample_w = kind.subsampleWidth;
    from.subsample_h = kind.subsampleHeight;
    from.chroma_location = kind.siting;
    zimg_image_format to = byteFormat(width, height, ZIMG_COLOR_RGB);
    to.matrix_coefficients = ZIMG_MATRIX_RGB;
    const zimg_graph_builder_params params = lanczos3();
    const std::unique_ptr<zimg_filter_graph, Deleter<zimg_filter_graph_free>> graph(
        zimg_filter_graph_build(&from, &to, &params));
    const auto temporary = graph ? scratchFor(*graph) : nullptr;
    if (!temporary)
        return {};

    std::vector<Plane> rgb;
    zimg_image_buffer_const in{};
    in.version = ZIMG_API_VERSION;
    zimg_image_buffer out{};
    out.version = ZIMG_API_VERSION;
    for (int p = 0; p < 3; ++p) {
        in.plane[p] = {planes[size_t(p)].row(0), planes[size_t(p)].stride(), ZIMG_BUFFER_MAX};
        Plane& plane = rgb.emplace_back(width, height);
        out.plane[p] = {plane.row(0), plane.stride(), ZIMG_BUFFER_MAX};
    }
    if (zimg_filter_graph_process(graph.get(), &in, &out, temporary.get(), nullptr, nullptr,
                                  nullptr, nullptr) != ZIMG_ERROR_SUCCESS)
        return {};
    return interleaved(rgb, width, height, metadataSource);
}

} // namespace PlaneResampler
