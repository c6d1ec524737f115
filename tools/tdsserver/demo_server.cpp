// tallowby-demo-server: serves every *.sqlite file of a folder as a database over TDS, for the
// demo and for trying a client by hand. "x.sqlite" is database x; "x.<schema>.sqlite" beside it
// holds x's tables of that schema.

#include "tdsserver/server.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <pthread.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

void usage(std::ostream& out) {
    out << "usage: tallowby-demo-server --data DIR [--port N] [--user U] [--password P] "
           "[--textsize N]\n"
           "                            [--encryption none|off|on|required] [--cert FILE "
           "--key FILE] [--verbose]\n"
           "Serves every DIR/<name>.sqlite as database <name> on 127.0.0.1:N (default 14330;\n"
           "0 picks a free port). DIR/<name>.<schema>.sqlite holds that database's schema\n"
           "<schema>. The login is user \"demo\", password \"demo\" unless given.\n"
           "--textsize N: each session starts with SET TEXTSIZE N (bytes of a text, ntext,\n"
           "image or (max) value sent; the rest is cut off); unlimited unless given.\n"
           "--encryption: what the server offers, as SQL Server's setting: none (no TLS),\n"
           "off (TLS for the login only, unless the client asks for more), on or required\n"
           "(TLS for everything; clients without TLS are turned away). Default: required.\n"
           "--cert FILE --key FILE: the server's certificate (and chain) and its private key,\n"
           "PEM; without them the server makes a self-signed one for localhost and 127.0.0.1.\n";
}

// The whole of a file; exits with a message when it cannot be read.
std::string readFile(const std::string& option, const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in || text.str().empty()) {
        std::cerr << option << ": cannot read '" << path << "'\n";
        std::exit(2);
    }
    return text.str();
}

} // namespace

int main(int argc, char** argv) {
    std::string data;
    long port = 14330;
    tdsserver::Config config;
    bool verbose = false;
    std::string certFile;
    std::string keyFile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << arg << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--data") {
            data = value();
        } else if (arg == "--port") {
            const std::string text = value();
            char* end = nullptr;
            port = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || port < 0 || port > 65535) {
                std::cerr << "--port wants a number from 0 to 65535, not '" << text << "'\n";
                return 2;
            }
        } else if (arg == "--user") {
            config.user = value();
        } else if (arg == "--password") {
            config.password = value();
        } else if (arg == "--textsize") {
            const std::string text = value();
            char* end = nullptr;
            const long long n = std::strtoll(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || n < 1 ||
                n > tdsserver::Config::kUnlimitedTextSize) {
                std::cerr << "--textsize wants a number of bytes from 1 to 2147483647, not '"
                          << text << "'\n";
                return 2;
            }
            config.textSize = n;
        } else if (arg == "--encryption") {
            const std::string text = value();
            using E = tdsserver::Config::Encryption;
            if (text == "none") {
                config.encryption = E::None;
            } else if (text == "off") {
                config.encryption = E::Off;
            } else if (text == "on") {
                config.encryption = E::On;
            } else if (text == "required") {
                config.encryption = E::Required;
            } else {
                std::cerr << "--encryption wants none, off, on or required, not '" << text << "'\n";
                return 2;
            }
        } else if (arg == "--cert") {
            certFile = value();
        } else if (arg == "--key") {
            keyFile = value();
        } else if (arg == "--verbose") {
            verbose = true;
        } else if (arg == "--help" || arg == "-h") {
            usage(std::cout);
            return 0;
        } else {
            std::cerr << "unknown argument '" << arg << "'\n";
            usage(std::cerr);
            return 2;
        }
    }
    if (data.empty()) {
        usage(std::cerr);
        return 2;
    }
    if (certFile.empty() != keyFile.empty()) {
        std::cerr << "--cert and --key go together\n";
        return 2;
    }
    if (!certFile.empty()) {
        config.certificatePem = readFile("--cert", certFile);
        config.privateKeyPem = readFile("--key", keyFile);
    }
    if (verbose)
        config.log = [](std::string_view line) { std::cerr << line << '\n'; };

    // The signals are taken by sigwait below; block them before any thread starts so that no
    // connection thread receives them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    try {
        tdsserver::Server server(config);
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(data)) {
            const std::filesystem::path& p = entry.path();
            // A stem with a dot is a schema file of another database.
            if (entry.is_regular_file() && p.extension() == ".sqlite" &&
                p.stem().string().find('.') == std::string::npos)
                files.push_back(p);
        }
        std::sort(files.begin(), files.end());
        if (files.empty()) {
            std::cerr << "no *.sqlite files in " << data << '\n';
            return 1;
        }
        for (const auto& p : files) {
            server.addDatabase(p.stem().string(), p.string());
            std::cerr << "Serving database " << p.stem().string() << " from " << p.string() << '\n';
        }
        const std::uint16_t bound = server.start(static_cast<std::uint16_t>(port));
        std::cout << "Listening on 127.0.0.1:" << bound << std::endl;

        int received = 0;
        sigwait(&signals, &received);
        std::cerr << "Stopping on " << (received == SIGINT ? "SIGINT" : "SIGTERM") << '\n';
        server.stop();
    } catch (const std::exception& e) {
        std::cerr << "tallowby-demo-server: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
