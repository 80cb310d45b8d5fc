// lumo-jpegenc: the built-in JPEG encoder on a raw frame file.
//
//   lumo-jpegenc --size WxH [--format F] [--quality Q] [--chroma C] [--rotation R] [--scale S]
//                input output
//
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

#include "jpeg/encoder.h"
#include "jpeg/frame_convert.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kFileError = 1;

const char kHelp[] =
    "usage: lumo-jpegenc --size WxH [options] input output\n"
    "\n"
    "Encodes one raw frame with Lumovatrix's built-in baseline JPEG encoder.\n"
    "\n"
    "  --size WxH        size of the input frame in pixels (required); rows are packed\n"
    "  --format F        layout of the input: uyvy (default; Cb Y0 Cr Y1 per pixel pair),\n"
    "                    rgb565, rgb555 (little-endian 16-bit words; bit 15 ignored),\n"
    "                    bgr24 (blue, green, red bytes)\n"
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

struct Options {
    uint32_t width = 0, height = 0;
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
            if (value == "uyvy")
                o.layout = Uyvy;
            else if (value == "rgb565")
                o.layout = Rgb565;
            else if (value == "rgb555")
                o.layout = Rgb555;
            else if (value == "bgr24")
                o.layout = Bgr24;
            else
                fail(kUsageError,
                     "--format takes uyvy, rgb565, rgb555 or bgr24, not '" + value + "'");
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
    if (o.width == 0) fail(kUsageError, "--size WxH is required (see --help)");
    o.input = positional[0];
    o.output = positional[1];
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
    const Options o = parse(argc, argv);
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

    std::vector<uint8_t> frame = readFile(o.input);
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
