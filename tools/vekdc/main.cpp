// vekdc: command-line front end of the vekDC library. This file only
// dispatches to the commands and prints the version and the usage text.
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "commands.h"
#include "vekdc.h"

namespace vekdc {

namespace {

const char kUsage[] =
    "usage: vekdc COMMAND [OPTIONS] [FILE...]\n"
    "       vekdc --version | --help\n"
    "\n"
    "commands:\n"
    "  checksum [--crc32|--crc32c|--adler32|--bzip2-crc] [FILE...]\n"
    "      Print the checksum of each FILE (standard input when none or '-')\n"
    "      as '<8 hex digits>  <name>'. Default --crc32. --crc32c prints the\n"
    "      standard CRC-32C value, --bzip2-crc the CRC of the bzip2 format.\n"
    "\n"
    "  compress -F FORMAT [-l LEVEL] [-o OUT | -c] [-k] [-f] [FILE]\n"
    "  decompress [-F FORMAT] [-o OUT | -c] [-t] [FILE]\n"
    "      (formats arrive with their codecs)\n"
    "      -F FORMAT  container/codec to use     -l LEVEL  compression level\n"
    "      -o OUT     output file                -c        write to standard output\n"
    "      -k         keep the input file        -f        overwrite existing output\n"
    "      -t         test integrity only, write nothing\n"
    "\n"
    "  bench [--json] [--quick] [FILE...]\n"
    "      Measure this library against the peer libraries linked into this\n"
    "      build. Without FILE a built-in corpus (text, source, binary, random,\n"
    "      runs; 4 MiB each, generated in memory) is used; with FILEs their\n"
    "      contents replace it. Reports the median of interleaved samples.\n"
    "      --json   print the rows as a JSON array instead of a table\n"
    "      --quick  3 samples per measurement instead of 7\n"
    "\n"
    "options:\n"
    "  --version     print the library version and exit\n"
    "  -h, --help    print this help and exit\n"
    "\n"
    "exit status: 0 success, 1 a file or the data could not be processed,\n"
    "2 bad command line.\n";

void print_version() {
    const vekLibVersion* v = vekdcGetLibVersion();
    std::printf("vekdc %s, library %s, built %s\n", v->versionText, v->libraryName, v->buildDate);
    char tag[sizeof v->cpuTag + 1] = {};
    std::memcpy(tag, v->cpuTag, sizeof v->cpuTag);
    std::printf("version %d.%d.%d, revision 0x%08x, processor variant %s, %d-bit\n",
                static_cast<int>(v->majorVersion), static_cast<int>(v->minorVersion),
                static_cast<int>(v->updateNumber), static_cast<unsigned>(v->revision), tag,
                static_cast<int>(sizeof(void*) * 8));
}

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
};

const Command kCommands[] = {
    {"checksum", cmd_checksum},
    {"compress", cmd_compress},
    {"decompress", cmd_decompress},
    {"bench", cmd_bench},
};

} // namespace

void print_usage(bool to_stdout) { std::fputs(kUsage, to_stdout ? stdout : stderr); }

} // namespace vekdc

int main(int argc, char** argv) {
    using namespace vekdc;
    if (argc < 2) {
        print_usage(false);
        return kExitUsage;
    }
    const char* first = argv[1];
    if (std::strcmp(first, "--version") == 0) {
        print_version();
        return kExitOk;
    }
    if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0) {
        print_usage(true);
        return kExitOk;
    }
    if (looks_like_option(first)) return usage_error("unknown option '%s'", first);
    for (const Command& c : kCommands)
        if (std::strcmp(first, c.name) == 0) return c.run(argc - 2, argv + 2);
    return usage_error("unknown command '%s'", first);
}
