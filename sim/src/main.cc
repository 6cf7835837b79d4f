// dirsim: the directory simulator as a program, for the demo and for tests
// that run the command-line tool against it.
//
//   dirsim --ldif FILE [--port N] [--log FILE]
//          [--tls-cert PEM --tls-key PEM [--ldaps] [--refuse-starttls]
//           [--request-client-cert] [--tls-ca PEM]]
//
// Prints "PORT <n>" on standard output once it accepts connections (and
// "LDAPS <n>" on the next line with --ldaps), then serves until SIGTERM or
// SIGINT.  With --log it appends one line per request.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "dirsim/server.h"

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: dirsim --ldif FILE [--port N] [--log FILE] [--tls-cert PEM --tls-key PEM [--ldaps]\n"
                 "              [--refuse-starttls] [--request-client-cert] [--tls-ca PEM]]\n");
    return 2;
}

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

}  // namespace

int main(int argc, char **argv)
{
    dirsim::Options options;
    std::string log_path;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--ldaps") {
            options.ldaps = true;
            continue;
        }
        if (arg == "--refuse-starttls") {
            options.refuse_starttls = true;
            continue;
        }
        if (arg == "--request-client-cert") {
            options.request_client_cert = true;
            continue;
        }
        if (i + 1 >= argc) return usage();
        const char *value = argv[++i];
        if (arg == "--ldif") {
            options.ldif_path = value;
        } else if (arg == "--tls-cert") {
            options.tls_cert_file = value;
        } else if (arg == "--tls-key") {
            options.tls_key_file = value;
        } else if (arg == "--tls-ca") {
            options.tls_ca_file = value;
        } else if (arg == "--log") {
            log_path = value;
        } else if (arg == "--port") {
            char *end = nullptr;
            errno = 0;
            long port = std::strtol(value, &end, 10);
            if (errno || !*value || *end || port < 0 || port > 65535) {
                std::fprintf(stderr, "dirsim: invalid port: %s\n", value);
                return 2;
            }
            options.port = static_cast<uint16_t>(port);
        } else {
            return usage();
        }
    }
    if (options.ldif_path.empty() || options.tls_cert_file.empty() != options.tls_key_file.empty()) return usage();

    std::unique_ptr<FILE, FileCloser> log;
    if (!log_path.empty()) {
        log.reset(std::fopen(log_path.c_str(), "a"));
        if (!log) {
            std::fprintf(stderr, "dirsim: %s: %s\n", log_path.c_str(), std::strerror(errno));
            return 1;
        }
        FILE *f = log.get();
        // The server calls this one request at a time.
        options.on_request = [f](const dirsim::Request &r) {
            std::fprintf(f, "%s\n", dirsim::format_request(r).c_str());
            std::fflush(f);
        };
    }

    // Block the stop signals before any thread starts, so that only sigwait
    // below receives them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    dirsim::Server server(options);
    if (!server.start()) return 1;
    std::printf("PORT %u\n", unsigned(server.port()));
    if (options.ldaps) std::printf("LDAPS %u\n", unsigned(server.ldaps_port()));
    std::fflush(stdout);

    int sig = 0;
    while (sigwait(&stop_signals, &sig) != 0) {
    }
    server.stop();
    return 0;
}
