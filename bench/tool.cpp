// SPDX-License-Identifier: GPL-3.0-or-later
// burisora-bench: the helpers bench/run.sh needs besides the tools it times.
//
//   corpus DIR                 photo-like JPEGs, PNGs and HEICs in DIR/{jpeg,png,heic}
//   psnr SOURCES OUTPUTS...    PSNR of each output against a full-decode Lanczos3 reference
//   encoders DIR LONG_EDGE Q   size and time of PNG levels and x265 presets on DIR's images
#include "Codec/ImageIOResizer.h"
#include "Codec/MappedFile.h"
#include "Runtime/FileDescriptor.h"
#include "Runtime/VipsRuntime.h"

#include <QElapsedTimer>

#include <fcntl.h>
#include <libheif/heif.h>
#include <vips/vips8>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using vips::VImage;

namespace {

// Smooth gradients, soft shading, objects with edges, fine texture and sensor
// grain: what a resampler and an encoder meet in a photograph. Pure noise
// would make every codec look worse and every resampler look the same.
VImage photoLike(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    const auto uniform = [&](double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    };
    // Photographs are mostly of moderate colour: a grey level with a tint.
    // Fully saturated edges everywhere would measure 4:2:0 chroma, not scaling.
    const auto colour = [&] {
        const double grey = uniform(40, 215);
        return std::vector<double>{grey + uniform(-35, 35), grey + uniform(-35, 35),
                                   grey + uniform(-35, 35)};
    };
    const auto seeded = [&](int cell, int offset) {
        return VImage::option()->set("cell_size", cell)->set("seed", int(seed) * 7 + offset);
    };

    // Everything smooth is drawn at a quarter of the size and enlarged: the
    // corpus is made on every run and should not take longer than the bench.
    const int w = (width + 3) / 4;
    const int h = (height + 3) / 4;
    const double angle = uniform(0, 2 * std::numbers::pi);
    const double ca = std::cos(angle);
    const double sa = std::sin(angle);
    const double low = std::min({0.0, w * ca, h * sa, w * ca + h * sa});
    const double high = std::max({0.0, w * ca, h * sa, w * ca + h * sa});
    const VImage xyz = VImage::xyz(w, h);
    const VImage t = ((xyz[0] * ca + xyz[1] * sa) - low) / (high - low);
    const std::vector<double> from = colour();
    const std::vector<double> to = colour();
    VImage image = t.linear({to[0] - from[0], to[1] - from[1], to[2] - from[2]}, from);

    const VImage shading = VImage::perlin(w, h, seeded(int(uniform(75, 175)), 1));
    image = image + shading.linear({uniform(20, 45), uniform(20, 45), uniform(20, 45)}, {0, 0, 0});

    const int objectCell = int(uniform(50, 125));
    const VImage cells = VImage::worley(w, h, seeded(objectCell, 2)) / objectCell;
    const std::vector<double> objectColour = colour();
    const VImage objects =
        image.linear({0.45, 0.45, 0.45},
                     {objectColour[0] * 0.55, objectColour[1] * 0.55, objectColour[2] * 0.55});
    image = (cells < uniform(0.25, 0.45)).ifthenelse(objects, image);
    // Cubic enlargement leaves the objects' edges as soft as a lens would.
    image = image.resize(4, VImage::option()->set("kernel", VIPS_KERNEL_CUBIC))
                .crop(0, 0, width, height);

    const VImage texture = VImage::perlin(width, height, seeded(int(uniform(20, 64)), 3));
    const VImage detail = VImage::perlin(width, height, seeded(int(uniform(3, 8)), 4));
    const VImage grain = VImage::gaussnoise(width, height,
                                            VImage::option()
                                                ->set("mean", 0.0)
                                                ->set("sigma", uniform(1.5, 3.5))
                                                ->set("seed", int(seed) * 7 + 5));
    image = image + texture * uniform(8, 20) + detail * uniform(3, 9) + grain;
    return image.cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

template <auto Free> struct Deleter {
    template <typename T> void operator()(T* p) const { Free(p); }
};

// The same libheif calls as the encoder, with the preset as a parameter.
std::string heicBytes(const VImage& image, int quality, const char* preset, const char* threads) {
    const VImage rgb = image.cast(VIPS_FORMAT_UCHAR);
    size_t size = 0;
    std::unique_ptr<void, Deleter<g_free>> pixels(
        vips_image_write_to_memory(rgb.get_image(), &size));
    std::unique_ptr<heif_context, Deleter<heif_context_free>> context(heif_context_alloc());
    heif_image* rawImage = nullptr;
    heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                      &rawImage);
    std::unique_ptr<heif_image, Deleter<heif_image_release>> heifImage(rawImage);
    heif_image_add_plane(rawImage, heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(rawImage, heif_channel_interleaved, &stride);
    const size_t row = size_t(rgb.width()) * 3;
    for (int y = 0; y < rgb.height(); ++y)
        std::copy_n(static_cast<const uint8_t*>(pixels.get()) + size_t(y) * row, row,
                    plane + size_t(y) * size_t(stride));
    heif_encoder* rawEncoder = nullptr;
    heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder);
    std::unique_ptr<heif_encoder, Deleter<heif_encoder_release>> encoder(rawEncoder);
    heif_encoder_set_lossy_quality(rawEncoder, quality);
    heif_encoder_set_parameter_string(rawEncoder, "preset", preset);
    if (threads)
        heif_encoder_set_parameter_string(rawEncoder, "x265:pools", threads);
    heif_context_encode_image(context.get(), rawImage, rawEncoder, nullptr, nullptr);
    std::string bytes;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context*, const void* data, size_t n, void* userdata) {
        static_cast<std::string*>(userdata)->append(static_cast<const char*>(data), n);
        return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
    };
    heif_context_write(context.get(), &writer, &bytes);
    return bytes;
}

int corpus(const fs::path& root) {
    struct Set {
        const char* folder;
        const char* extension;
        int count;
        int width;
        int height;
        const char* options;
    };
    // Phone-like JPEGs (4:2:0), PNGs as an export tool writes them, HEICs
    // written by x265's fastest preset (libvips' heifsave would take minutes).
    const Set sets[] = {{"jpeg", "jpg", 40, 4032, 3024, "[Q=92,subsample_mode=on]"},
                        {"png", "png", 10, 3000, 2000, "[compression=6]"},
                        {"heic", "heic", 5, 4032, 3024, nullptr}};
    unsigned seed = 1;
    for (const Set& set : sets) {
        fs::create_directories(root / set.folder);
        for (int i = 1; i <= set.count; ++i, ++seed) {
            char name[32];
            std::snprintf(name, sizeof name, "photo-%02d.%s", i, set.extension);
            const fs::path file = root / set.folder / name;
            const VImage image = photoLike(set.width, set.height, seed);
            if (set.options) {
                image.write_to_file((file.native() + set.options).c_str());
                continue;
            }
            const std::string bytes = heicBytes(image, 80, "ultrafast", nullptr);
            std::FILE* out = std::fopen(file.c_str(), "wb");
            const bool written =
                out && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
            if (!out || std::fclose(out) != 0 || !written || bytes.empty()) {
                std::fprintf(stderr, "burisora-bench: cannot write %s\n", file.c_str());
                return 1;
            }
        }
    }
    return 0;
}

VImage upright(VImage image) {
    image = image.autorot();
    if (image.has_alpha())
        image = image.flatten(
            VImage::option()->set("background", std::vector<double>(image.bands() - 1, 255.0)));
    if (image.interpretation() != VIPS_INTERPRETATION_sRGB)
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
    return image;
}

double psnr(const VImage& reference, const VImage& output) {
    const int width = std::min(reference.width(), output.width());
    const int height = std::min(reference.height(), output.height());
    const VImage a = reference.crop(0, 0, width, height).cast(VIPS_FORMAT_DOUBLE);
    const VImage b = output.crop(0, 0, width, height).cast(VIPS_FORMAT_DOUBLE);
    const VImage difference = a - b;
    const double mse = (difference * difference).avg();
    return mse <= 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// Reference: the whole source decoded (no shrink-on-load) and resampled with
// Lanczos3 straight to the output's size.
int psnrOf(const fs::path& sources, const std::vector<fs::path>& outputFolders) {
    std::map<std::string, fs::path> sourceByStem;
    for (const auto& entry : fs::directory_iterator(sources)) {
        if (entry.is_regular_file())
            sourceByStem[entry.path().stem()] = entry.path();
    }
    std::map<std::string, std::map<std::string, VImage>> references; // stem -> size -> image
    for (const fs::path& folder : outputFolders) {
        double sum = 0;
        double minimum = 1e9;
        int count = 0;
        for (const auto& entry : fs::directory_iterator(folder)) {
            const auto source = sourceByStem.find(entry.path().stem());
            if (!entry.is_regular_file() || source == sourceByStem.end())
                continue;
            const VImage output = upright(VImage::new_from_file(entry.path().c_str()));
            const std::string size =
                std::to_string(output.width()) + "x" + std::to_string(output.height());
            VImage& reference = references[source->first][size];
            if (!reference.get_image()) {
                const VImage full = upright(VImage::new_from_file(source->second.c_str()));
                reference = full.resize(double(output.width()) / full.width(),
                                        VImage::option()
                                            ->set("vscale", double(output.height()) / full.height())
                                            ->set("kernel", VIPS_KERNEL_LANCZOS3)
                                            ->set("gap", 0.0))
                                .copy_memory();
            }
            const double value = psnr(reference, output);
            sum += value;
            minimum = std::min(minimum, value);
            ++count;
        }
        std::printf("%s\t%d\t%.2f\t%.2f\n", folder.c_str(), count, count ? minimum : 0.0,
                    count ? sum / count : 0.0);
    }
    return 0;
}

// One file's worth of each choice, single-threaded as in a batch of two on two
// cores: the choice is made on size per second spent, not on the fastest.
int encoders(const fs::path& folder, int longEdge, int quality) {
    vips_concurrency_set(1);
    std::vector<VImage> images;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file() && images.size() < 3) {
            const FileDescriptor fd(::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC));
            const MappedFile source(fd.get());
            // In memory: the resized image would otherwise read the mapping later.
            images.push_back(ImageIOResizer::resize(source.bytes(), longEdge).copy_memory());
        }
    }
    if (images.empty())
        return 1;
    const auto cpuSeconds = [] {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return double(now.tv_sec) + now.tv_nsec / 1e9;
    };
    const auto report = [&](const std::string& label, const auto& encode) {
        QElapsedTimer clock;
        clock.start();
        const double cpuStart = cpuSeconds();
        size_t bytes = 0;
        for (const VImage& image : images)
            bytes += encode(image);
        const double n = double(images.size());
        std::printf("%-28s %8.0f KB/image %8.3f s/image %8.3f CPU s/image\n", label.c_str(),
                    double(bytes) / n / 1024, clock.nsecsElapsed() / 1e9 / n,
                    (cpuSeconds() - cpuStart) / n);
        std::fflush(stdout);
    };
    if (folder.filename() == "png") {
        const std::pair<const char*, VipsForeignPngFilter> filters[] = {
            {"no filter", VIPS_FOREIGN_PNG_FILTER_NONE},
            {"sub", VIPS_FOREIGN_PNG_FILTER_SUB},
            {"up", VIPS_FOREIGN_PNG_FILTER_UP},
            {"all filters", VIPS_FOREIGN_PNG_FILTER_ALL}};
        for (const int level : {1, 2, 3, 6}) {
            for (const auto& [name, filter] : filters) {
                report("png level " + std::to_string(level) + " " + name, [&](const VImage& image) {
                    VipsBlob* blob = nullptr;
                    image.pngsave_buffer(VImage::option()
                                             ->set("compression", level)
                                             ->set("filter", filter)
                                             ->set("buffer", &blob));
                    const size_t n = VIPS_AREA(blob)->length;
                    vips_area_unref(VIPS_AREA(blob));
                    return n;
                });
            }
        }
    } else {
        for (const char* preset :
             {"ultrafast", "superfast", "veryfast", "faster", "fast", "medium"}) {
            for (const char* threads : {static_cast<const char*>(nullptr), "1"}) {
                report(std::string("x265 ") + preset + (threads ? " pools=1" : ""),
                       [&](const VImage& image) {
                           return heicBytes(image, quality, preset, threads).size();
                       });
            }
        }
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    VipsRuntime::initialize();
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 2 && args[0] == "corpus")
            return corpus(args[1]);
        if (args.size() >= 3 && args[0] == "psnr")
            return psnrOf(args[1], std::vector<fs::path>(args.begin() + 2, args.end()));
        if (args.size() == 4 && args[0] == "encoders")
            return encoders(args[1], std::stoi(args[2]), std::stoi(args[3]));
    } catch (const vips::VError& error) {
        std::fprintf(stderr, "burisora-bench: %s\n", error.what());
        return 1;
    }
    std::fprintf(stderr, "usage: burisora-bench corpus DIR | psnr SOURCES OUTPUTS... | "
                         "encoders DIR LONG_EDGE QUALITY\n");
    return 2;
}
