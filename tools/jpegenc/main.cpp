// lumo-jpegenc: the built-in JPEG encoder on a picture file (PNG, binary PPM or PGM) or a raw
// frame file.
//
//   lumo-jpegenc [--size WxH] [--format F] [--quality Q] [--chroma C] [--rotation R]
//                [--scale S] input output
//
// A picture file is read into a bgr24 frame of its own size (grey repeated in the three fields,
// PNG alpha laid over black, samples below 8 bits widened to 0-255), then encoded as that frame.
// Bad arguments or an input of the wrong size give one line on stderr and exit status 2; a file
// that cannot be read or written gives status 1.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#if LUMO_JPEGENC_PNG
#include <png.h>
#endif

#include "jpeg/encoder.h"
#include "jpeg/frame_convert.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kFileError = 1;

const char kHelp[] =
    "usage: lumo-jpegenc [--size WxH] [options] input output\n"
    "\n"
    "Encodes one picture with Lumovatrix's built-in baseline JPEG encoder: a PNG, PPM or PGM\n"
    "file, or a raw frame.\n"
    "\n"
    "  --format F        what the input is: png, ppm, pgm (binary P6 and P5, 8-bit samples),\n"
    "                    or a raw frame: uyvy (Cb Y0 Cr Y1 per pixel pair), rgb565, rgb555\n"
    "                    (little-endian 16-bit words; bit 15 ignored), bgr24 (blue, green, red\n"
    "                    bytes). Without it, an input ending in .png, .ppm, .pgm or .pnm is\n"
    "                    that file; anything else is a uyvy frame\n"
    "  --size WxH        size of a raw frame in pixels (required for one); rows are packed.\n"
    "                    Picture files carry their own size\n"
    "  --quality Q       1..100 (default 85); 0 writes no JPEG but the raw path's planar\n"
    "                    picture: I420 (Y, then Cb and Cr at half size in both directions),\n"
    "                    turned and halved like a JPEG would be, without any header\n"
    "  --chroma C        420 (default), 422 or gray; 422 becomes 420 at rotation 1 or 3;\n"
    "                    ignored at quality 0\n"
    "  --rotation R      quarter turns 0..3 (default 0); 1 makes the right-hand column the top\n"
    "                    row, 3 turns the other way; 1 and 3 exchange width and height\n"
    "  --scale S         1 (default) or 2: halve the picture in both directions\n"
    "  --help            show this text\n"
    "\n"
    "The picture after halving must be a multiple of 16 pixels wide and of 8 lines high\n"
    "(16 lines for 420, and for gray at rotation 1 or 3); at quality 0 it must have an even\n"
    "width and height. The input file must hold exactly width x height pixels (3 bytes each\n"
    "for bgr24, 2 otherwise).\n"
    "Exit status: 0 success, 1 a file could not be read or written, 2 bad arguments or input.\n";

// Picture files the tool reads itself; raw frames use the encoder's own layouts.
enum class Container { Raw, Png, Pnm };

struct Options {
    uint32_t width = 0, height = 0;
    Container container = Container::Raw;
    bool formatGiven = false;
    SourcePixelFormat layout = Uyvy;
    uint32_t quality = 85;
    uint32_t format = Chroma420;
    uint32_t rotation = 0;
    uint32_t scale = 1;
    std::string input, output;
};

[[noreturn]] void fail(int status, const std::string& message) {
    std::fprintf(stderr, "lumo-jpegenc: %s\n", message.c_str());
    std::exit(status);
}

bool parseNumber(const std::string& text, uint32_t& out) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    out = static_cast<uint32_t>(std::stoul(text));
    return true;
}

uint32_t numberIn(const std::string& option, const std::string& text, uint32_t low, uint32_t high) {
    uint32_t value = 0;
    if (!parseNumber(text, value) || value < low || value > high) {
        fail(kUsageError, option + " takes a number from " + std::to_string(low) + " to " +
                              std::to_string(high) + ", not '" + text + "'");
    }
    return value;
}

Options parse(int argc, char** argv) {
    Options o;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            std::exit(0);
        }
        if (arg.rfind("--", 0) != 0) {
            positional.push_back(arg);
            continue;
        }
        std::string value;
        const size_t equals = arg.find('=');
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            fail(kUsageError, arg + " needs a value (see --help)");
        }
        if (arg == "--size") {
            const size_t x = value.find('x');
            if (x == std::string::npos || !parseNumber(value.substr(0, x), o.width) ||
                !parseNumber(value.substr(x + 1), o.height) || o.width == 0 || o.height == 0 ||
                o.width > 16384 || o.height > 16384) {
                fail(kUsageError,
                     "--size takes WxH with both from 1 to 16384, not '" + value + "'");
            }
        } else if (arg == "--format") {
            o.formatGiven = true;
            if (value == "png")
                o.container = Container::Png;
            else if (value == "ppm" || value == "pgm" || value == "pnm")
                o.container = Container::Pnm;
            else if (value == "uyvy")
                o.layout = Uyvy;
            else if (value == "rgb565")
                o.layout = Rgb565;
            else if (value == "rgb555")
                o.layout = Rgb555;
            else if (value == "bgr24")
                o.layout = Bgr24;
            else
                fail(kUsageError,
                     "--format takes png, ppm, pgm, uyvy, rgb565, rgb555 or bgr24, "
                     "not '" +
                         value + "'");
        } else if (arg == "--quality") {
            o.quality = numberIn(arg, value, 0, 100);
        } else if (arg == "--chroma") {
            if (value == "420")
                o.format = Chroma420;
            else if (value == "422")
                o.format = Chroma422;
            else if (value == "gray" || value == "grey")
                o.format = ChromaGrey;
            else
                fail(kUsageError, "--chroma takes 420, 422 or gray, not '" + value + "'");
        } else if (arg == "--rotation") {
            o.rotation = numberIn(arg, value, 0, 3);
        } else if (arg == "--scale") {
            o.scale = numberIn(arg, value, 1, 2);
        } else {
            fail(kUsageError, "unknown option " + arg + " (see --help)");
        }
    }
    if (positional.size() != 2) {
        fail(kUsageError, "expected an input and an output file, got " +
                              std::to_string(positional.size()) + " names (see --help)");
    }
    o.input = positional[0];
    o.output = positional[1];
    if (!o.formatGiven) {
        std::string extension = o.input.substr(std::min(o.input.rfind('.'), o.input.size()));
        std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
        if (extension == ".png") o.container = Container::Png;
        if (extension == ".ppm" || extension == ".pgm" || extension == ".pnm")
            o.container = Container::Pnm;
    }
    if (o.container != Container::Raw) {
        if (o.width != 0)
            fail(kUsageError,
                 "--size is for raw frames; " + o.input + " is a picture file with its own size");
        o.layout = Bgr24;
    } else if (o.width == 0) {
        fail(kUsageError, "--size WxH is required for a raw frame (see --help)");
    }
    return o;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) fail(kFileError, "cannot read " + path + ": " + std::strerror(errno));
    std::vector<uint8_t> data;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f.get())) > 0)
        data.insert(data.end(), chunk, chunk + n);
    if (std::ferror(f.get())) fail(kFileError, "cannot read " + path + ": " + std::strerror(errno));
    return data;
}

constexpr uint32_t kMaxPictureSide = 16384;

// A PNG file as a bgr24 frame; sets the size.
std::vector<uint8_t> readPng(const std::string& path, const std::vector<uint8_t>& file,
                             Options& o) {
#if LUMO_JPEGENC_PNG
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size()))
        fail(kUsageError, path + ": not a PNG file we can read (" + image.message + ")");
    if (image.width == 0 || image.height == 0 || image.width > kMaxPictureSide ||
        image.height > kMaxPictureSide) {
        png_image_free(&image);
        fail(kUsageError, path + ": a PNG picture must be 1 to 16384 pixels on each side");
    }
    image.format = PNG_FORMAT_BGR;  // alpha is laid over black
    std::vector<uint8_t> frame(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, frame.data(), 0, nullptr))
        fail(kUsageError, path + ": damaged PNG file (" + image.message + ")");
    o.width = image.width;
    o.height = image.height;
    return frame;
#else
    // A build for another processor without that processor's libpng (scripts/cross-aarch64.sh).
    (void)file;
    (void)o;
    fail(kUsageError, path + ": this lumo-jpegenc was built without PNG support");
#endif
}

// A binary PPM (P6) or PGM (P5) file with samples of up to 8 bits as a bgr24 frame; sets the
// size. The header is the magic number, width, height and largest sample value, separated by
// whitespace and comments ('#' to the end of the line), then one whitespace character.
std::vector<uint8_t> readPnm(const std::string& path, const std::vector<uint8_t>& file,
                             Options& o) {
    if (file.size() < 2 || file[0] != 'P' || (file[1] != '6' && file[1] != '5')) {
        fail(kUsageError,
             path + (file.size() >= 2 && file[0] == 'P' && file[1] >= '1' && file[1] <= '4'
                         ? ": a plain-text or bitmap PNM file; only binary PPM "
                           "(P6) and PGM (P5) are read"
                         : ": not a PPM or PGM file"));
    }
    const bool colour = file[1] == '6';
    size_t at = 2;
    uint32_t fields[3] = {};  // width, height, largest value
    for (uint32_t& field : fields) {
        while (at < file.size() && (isspace(file[at]) || file[at] == '#')) {
            if (file[at] == '#')
                while (at < file.size() && file[at] != '\n') ++at;
            else
                ++at;
        }
        std::string digits;
        while (at < file.size() && isdigit(file[at]) && digits.size() < 10)
            digits += char(file[at++]);
        if (!parseNumber(digits, field)) fail(kUsageError, path + ": damaged header");
    }
    if (at >= file.size() || !isspace(file[at])) fail(kUsageError, path + ": damaged header");
    ++at;
    const auto [width, height, maxValue] = fields;
    if (width == 0 || height == 0 || width > kMaxPictureSide || height > kMaxPictureSide)
        fail(kUsageError, path + ": a picture must be 1 to 16384 pixels on each side");
    if (maxValue == 0 || maxValue > 255)
        fail(kUsageError, path + ": samples of 1 to 8 bits are read, not a largest value of " +
                              std::to_string(maxValue));
    const size_t pixels = size_t{width} * height, samples = pixels * (colour ? 3 : 1);
    if (file.size() - at < samples)
        fail(kUsageError, path + ": cut short (" + std::to_string(file.size() - at) + " of " +
                              std::to_string(samples) + " sample bytes)");
    std::vector<uint8_t> frame(pixels * 3);
    auto widen = [top = maxValue](uint8_t v) { return uint8_t((v * 255u + top / 2) / top); };
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t* in = &file[at + i * (colour ? 3 : 1)];
        const uint8_t r = widen(in[0]), g = widen(colour ? in[1] : in[0]),
                      b = widen(colour ? in[2] : in[0]);
        if (std::max({in[0], colour ? in[1] : in[0], colour ? in[2] : in[0]}) > maxValue)
            fail(kUsageError, path + ": a sample above the largest value the header gives");
        frame[3 * i] = b;
        frame[3 * i + 1] = g;
        frame[3 * i + 2] = r;
    }
    o.width = width;
    o.height = height;
    return frame;
}

void writeFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) fail(kFileError, "cannot write " + path + ": " + std::strerror(errno));
    const bool written = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !written) {
        std::remove(path.c_str());
        fail(kFileError, "cannot write " + path + ": " + std::strerror(errno));
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options o = parse(argc, argv);
    std::vector<uint8_t> frame;
    if (o.container != Container::Raw) {
        const std::vector<uint8_t> file = readFile(o.input);
        frame =
            o.container == Container::Png ? readPng(o.input, file, o) : readPnm(o.input, file, o);
    }
    static const char* kLayoutNames[] = {"bgr24", "rgb565", "rgb555", "uyvy"};
    const std::string size = std::to_string(o.width) + "x" + std::to_string(o.height);
    if (o.width % o.scale != 0 || o.height % o.scale != 0) {
        fail(kUsageError, "--size " + size + " cannot be halved by --scale 2");
    }
    const uint32_t w = o.width / o.scale, h = o.height / o.scale;
    const std::string out = std::to_string(w) + "x" + std::to_string(h);
    const bool turned = o.rotation == 1 || o.rotation == 3;
    const uint32_t format = o.format == Chroma422 && turned ? Chroma420 : o.format;
    if (o.quality == 0) {
        if (w % 2 != 0 || h % 2 != 0) {
            fail(kUsageError, "the planar picture needs an even width and height, not " + out);
        }
    } else {
        const uint32_t mcu = format == Chroma420 || (format == ChromaGrey && turned) ? 16 : 8;
        if (w % 16 != 0 || h % mcu != 0) {
            fail(kUsageError, "the encoded picture is " + out +
                                  "; it must be a multiple of 16 wide and of " +
                                  std::to_string(mcu) + " high for these options");
        }
    }
    if (o.layout == Uyvy && o.width % 2 != 0) fail(kUsageError, "a uyvy frame needs an even width");

    if (o.container == Container::Raw) frame = readFile(o.input);
    const size_t expected = size_t{o.width} * o.height * bytesPerPixel(o.layout);
    if (frame.size() != expected) {
        fail(kUsageError, o.input + " holds " + std::to_string(frame.size()) + " bytes; a " + size +
                              " " + kLayoutNames[o.layout] + " frame is " +
                              std::to_string(expected) + " bytes");
    }

    if (o.quality == 0) {
        if (o.layout != Uyvy) {
            const uint32_t bits = o.layout == Bgr24 ? 24 : (o.layout == Rgb565 ? 16 : 15);
            convertRgbToUyvy(frame.data(), frame.data(), o.width * o.height * 2, bits);
        }
        const size_t luma = size_t{w} * h;
        std::vector<uint8_t> planes(luma + luma / 2);
        convertFrameToPlanes(planes.data(), frame.data(), w, h, o.scale, Chroma420, o.rotation);
        writeFile(o.output, planes.data(), planes.size());
        return 0;
    }

    std::unique_ptr<JpegEncoder, void (*)(JpegEncoder*)> encoder(createJpegEncoder(),
                                                                 freeJpegEncoder);
    if (!encoder) fail(kFileError, "out of memory");
    configureJpegEncoder(*encoder, w, h, o.quality, format, o.scale, o.scale, o.rotation);
    // Room for ordinary pictures first; only a picture that might not fit gets the worst case.
    const size_t blocks = size_t{w / 8} * (h / 8) * 3;
    const size_t worst = kColourHeaderLength + blocks * kMaxCodedBlockBytes + 2;
    std::vector<uint8_t> jpeg(std::min(worst, expected * 2 + 65536));
    uint32_t length = encodeImage(*encoder, jpeg.data(), frame.data(), 1, o.layout, jpeg.size());
    if (length == 0 && jpeg.size() < worst) {
        jpeg.resize(worst);
        length = encodeImage(*encoder, jpeg.data(), frame.data(), 1, o.layout, jpeg.size());
    }
    if (length == 0) fail(kUsageError, "the encoder refused the picture");
    writeFile(o.output, jpeg.data(), length);
    return 0;
}
