// lumo-receiver: the desktop end of the camera's webcam mode.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "receiver.h"

namespace {

const char kUsage[] =
    "Usage: lumo-receiver [options]\n"
    "Receives the JPEG pictures a Lumovatrix or Lumosnapper device sends in webcam mode.\n"
    "Each device connection is greeted with \"vetu\" and then sends one message per picture.\n"
    "Several devices may be connected at once; a device may disconnect and come back.\n"
    "Runs until interrupted (Ctrl-C, SIGINT or SIGTERM); open movies are then finished.\n"
    "\n"
    "Options:\n"
    "  --port N         TCP port the devices connect to (default 2047)\n"
    "  --listen ADDR    IPv4 address to listen on for devices (default 127.0.0.1, only this\n"
    "                   computer; 0.0.0.0 accepts devices on every interface)\n"
    "  --out DIR        save every picture as DIR/deviceNNNN/NNNNNN.jpg, one folder per device\n"
    "                   connection\n"
    "  --avi DIR        record each device connection as a Motion-JPEG movie DIR/deviceNNNN.avi,\n"
    "                   every picture timed by the device's own frame ticks (a gap of over a\n"
    "                   minute between pictures is left out). While it is recorded its index\n"
    "                   is kept in DIR/deviceNNNN.avi.journal; a movie cut off by a kill or a\n"
    "                   full disk is finished when the receiver next starts with the same DIR\n"
    "                   (or by lumo-avifix)\n"
    "  --frame-ms N     tick length of the movies in milliseconds (default 10: every picture\n"
    "                   of a device sending up to 100 a second keeps a tick of its own; a\n"
    "                   longer tick keeps one picture per tick)\n"
    "  --http PORT      serve the pictures on http://127.0.0.1:PORT/ : / shows the live stream,\n"
    "                   /stream is a multipart MJPEG stream, /latest.jpg the latest picture\n"
    "                   (from whichever device sent last)\n"
    "  --help           show this text\n"
    "\n"
    "Existing files are never replaced: a folder or movie name that is taken gets the next free\n"
    "number. A connection that breaks the message format is dropped with one line on standard\n"
    "error; connections and files written are reported on standard output.\n"
    "\n"
    "Limits: a picture may be at most 3,840,000 bytes long (the largest photo a device takes,\n"
    "1600 x 1200, at 2 bytes a pixel; longer is refused at once); a message whose bytes stop\n"
    "coming for 30 s is dropped; at most 64 devices are served at once, more are refused with\n"
    "a line.\n";

bool parseNumber(const char* text, unsigned long max, unsigned long* value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || v > max || text[0] == '-') return false;
    *value = v;
    return true;
}

int usageError(const std::string& what) {
    std::fprintf(stderr, "lumo-receiver: %s (see --help)\n", what.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    ReceiverOptions options;
    // Every option but --help takes one value.
    for (int i = 1; i < argc; i += 2) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        unsigned long number = 0;
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (option == "--port" || option == "--http") {
            if (!parseNumber(value, 65535, &number)) {
                return usageError(option + " needs a port number from 0 to 65535");
            }
            if (option == "--port") {
                options.port = uint16_t(number);
            } else {
                options.httpPort = int(number);
            }
        } else if (option == "--frame-ms") {
            if (!parseNumber(value, 60000, &number) || number == 0) {
                return usageError("--frame-ms needs a tick length from 1 to 60000 ms");
            }
            options.frameMs = uint32_t(number);
        } else if (option == "--listen" || option == "--out" || option == "--avi") {
            if (value == nullptr || *value == '\0') return usageError(option + " needs a value");
            (option == "--listen" ? options.listenAddress
             : option == "--out"  ? options.outDir
                                  : options.aviDir) = value;
        } else {
            return usageError("unknown option '" + option + "'");
        }
    }

    // Every thread inherits this mask; only the main thread takes the signals, with sigwait.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    Receiver receiver(options);
    std::string error;
    if (!receiver.start(&error)) {
        std::fprintf(stderr, "lumo-receiver: %s\n", error.c_str());
        return 1;
    }
    std::printf("lumo-receiver: waiting for devices on %s:%u\n", options.listenAddress.c_str(),
                unsigned(receiver.port()));
    if (options.httpPort >= 0) {
        std::printf("lumo-receiver: viewing page at http://127.0.0.1:%u/\n",
                    unsigned(receiver.httpPort()));
    }
    std::fflush(stdout);

    int signal = 0;
    while (sigwait(&signals, &signal) != 0) {
    }
    std::printf("lumo-receiver: %s, stopping\n", signal == SIGINT ? "interrupted" : "terminated");
    std::fflush(stdout);
    receiver.stop();
    return 0;
}
