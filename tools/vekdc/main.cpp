// vekdc: command-line front end of the vekDC library. This file only
// dispatches to the commands and prints the version and the usage text,
// after making sure the standard descriptors are taken.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

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
    "  compress -F FORMAT [-l LEVEL] [-o OUT | -c] [-k] [-f] [FORMAT OPTIONS] [FILE...]\n"
    "  decompress [-F FORMAT] [-o OUT | -c | -t] [-k] [-f] [FILE...]\n"
    "      Compress FILE to FILE.SUFFIX, or decompress FILE.SUFFIX to FILE; the\n"
    "      input is removed once the output is complete unless -k or -c is\n"
    "      given. Without FILE, or for '-', standard input goes to standard\n"
    "      output. decompress detects the format from its magic number\n"
    "      (raw deflate has none: it needs -F deflate).\n"
    "      -F FORMAT  gzip zlib deflate lz4 lzo lzss zfp bzip2  -l LEVEL  level\n"
    "      -o OUT     output file ('-': stdout)  -c        write to standard output\n"
    "      -k         keep the input file        -f        overwrite an existing output\n"
    "      -t         decode and verify checksums, write nothing\n"
    "      Outputs are written under a temporary name and renamed when\n"
    "      complete; an existing device or pipe named with -o is written to\n"
    "      as it is, and the input kept. Inputs named without -o or -c must\n"
    "      be regular files. On a terminal, inputs over 16 MiB show their\n"
    "      progress.\n"
    "\n"
    "      gzip, zlib, deflate: a Deflate stream (RFC 1951) in the gzip container\n"
    "        (RFC 1952, suffix .gz, CRC-32; no name or time recorded), the zlib\n"
    "        container (RFC 1950, suffix .zz, Adler-32) or bare (suffix .deflate).\n"
    "        -l 1..9    faster to smaller, default 6; each level compresses text\n"
    "                   and source code within 1% of zlib's level of the same\n"
    "                   number (2..5: at least as well), and faster (1, 6..9:\n"
    "                   about twice as fast; binary data rich in 3-byte\n"
    "                   repeats: up to 10% larger at 1, a few percent at\n"
    "                   2..5 and 7)\n"
    "        -l 0       stored blocks, no compression\n"
    "        -l -1      fastest: single-pass encoder, codes fitted to a sample\n"
    "        Blocks that coding would enlarge are stored.\n"
    "        decompress reads gzip files of one or more members (header fields\n"
    "        extra, name and comment skipped, a header CRC checked), zlib\n"
    "        streams (a preset dictionary is refused) and bare streams, and\n"
    "        checks the CRC-32 and size or the Adler-32. Zero padding after\n"
    "        the last gzip member is ignored; other bytes after it, or after a\n"
    "        zlib or bare stream, are an error (gzip only warns about them).\n"
    "\n"
    "      lz4: the LZ4 frame format, suffix .lz4, content checksum on.\n"
    "        -l 1       default; fast single-pass encoder (0 means 1)\n"
    "        -l -1..-9  faster, less compression (acceleration 2..10)\n"
    "        -l 2..12   high compression, library level min(LEVEL, 9)\n"
    "        --block-size=64K|256K|1M|4M   largest block (default 4M)\n"
    "        --linked              blocks may refer to the 64 KiB before them\n"
    "                              (also --block-dependency; negative levels then\n"
    "                              encode like level 1)\n"
    "        --block-checksum      a checksum after every block\n"
    "        --no-content-checksum leave out the checksum of the whole content\n"
    "        decompress reads lz4 frames with independent or linked blocks of\n"
    "        any size, with or without checksums and content size, several\n"
    "        frames in a row, the legacy format (lz4 -l), and skips skippable\n"
    "        frames; frames that need a dictionary are refused.\n"
    "\n"
    "      lzss: this library's LZSS bit stream (32 KiB window) in a minimal\n"
    "        frame of our own, suffix .lzss: magic 89 4C 5A 53, the original\n"
    "        size (8 bytes), the stream, then the CRC-32 of the data (4 bytes),\n"
    "        numbers little-endian. No levels or options.\n"
    "\n"
    "      zfp: a raw ZFP stream (suffix .zfp) of a 3-D little-endian float32\n"
    "        array a[NZ][NY][NX], the bytes the zfp tool writes without -h; no\n"
    "        header, so decompress needs -F zfp and the same options again.\n"
    "        --dims NX NY NZ      the array's shape (required)\n"
    "        --rate R             fixed rate: R bits per value (0 < R <= 64)\n"
    "        --precision P        fixed precision: P bit planes (1..64)\n"
    "        --accuracy T         fixed accuracy: absolute error at most T (> 0)\n"
    "        Exactly one mode. Partial blocks at the array's edges are padded\n"
    "        as the zfp tool pads them.\n"
    "\n"
    "      bzip2: the .bz2 format, suffix .bz2, block CRCs and stream CRC.\n"
    "        -l 1..9    blocks of 100k..900k bytes, default 9 (like bzip2 -1..-9)\n"
    "        decompress reads files of one or more streams, as bzip2 writes\n"
    "        them at any block size, and checks every CRC; randomised blocks\n"
    "        (bzip2 0.9.0 and older) and bytes after the last stream are refused.\n"
    "\n"
    "      lzo: the lzop file format, suffix .lzo, LZO1X blocks of 256 KiB with\n"
    "        Adler-32 checksums of the data and of the compressed blocks.\n"
    "        -l 1..6    default 3; the fast piecewise matcher\n"
    "        -l 7..9    probes every position: smaller, slower\n"
    "        Blocks that coding would not shrink are stored. decompress reads\n"
    "        files lzop writes at any level, with Adler-32, CRC-32 or no\n"
    "        checksums, several files in a row, zero padding after the last;\n"
    "        filters are refused.\n"
    "\n"
    "  bench [--json] [--quick] [--only FAMILY]... [--floats NX NY NZ FILE] [FILE...]\n"
    "      Measure this library against the peer libraries linked into this\n"
    "      build. Without FILE a built-in corpus (text, source, binary, random,\n"
    "      runs; 4 MiB each, generated in memory) is used; with FILEs their\n"
    "      contents replace it. Reports the median of interleaved samples\n"
    "      of thread CPU time (robust on a busy machine).\n"
    "      --json   print the rows as a JSON array instead of a table\n"
    "      --quick  3 samples per measurement instead of 7, and the Deflate\n"
    "               rows compress the first MiB of each item only\n"
    "      --only FAMILY  only this family of rows (repeatable, any case)\n"
    "      --floats NX NY NZ FILE  a float32 array for the ZFP rows, in place\n"
    "               of their built-in smooth 128^3 field (may repeat)\n"
    "      Families: checksums (4 KiB, 256 KiB, 16 MiB buffers); LZ4 block\n"
    "      encoders and decoder on each item as one block and as 64 KiB blocks,\n"
    "      each against its liblz4 counterpart (LZ4: LZ4_compress_default,\n"
    "      LZ4 fast 8: LZ4_compress_fast, LZ4HC N: LZ4_compress_HC at level N,\n"
    "      LZ4 decode: LZ4_decompress_safe); Deflate: each item compressed to\n"
    "      one raw Deflate stream by our levels 1..9 and our fastest encoder\n"
    "      (with codes fitted to a sample, and with the fixed codes),\n"
    "      zlib -1, -6, -9, libdeflate -1, -6, -9, -12 and ISA-L -0..-3, every\n"
    "      stream checked with zlib's inflate before any timing (builds without\n"
    "      zlib have no Deflate rows); \"vs best peer\" of our levels 1, 6 and 9\n"
    "      is our speed over zlib's at the same level, of our fastest encoder\n"
    "      over ISA-L -1 (with the fixed codes: -0), our other rows have none;\n"
    "      Inflate: each item's zlib -6, libdeflate -12 and zlib -6\n"
    "      4 KiB-flushed (a sync flush every 4 KiB of input) streams\n"
    "      decoded by ours, zlib, libdeflate and ISA-L (none without peers);\n"
    "      LZSS: each item as one stream in 1 MiB calls, compressed and\n"
    "      decoded (no peer codes this stream: no \"vs best peer\");\n"
    "      ZFP: our block coders against libzfp's serial zfp_compress and\n"
    "      zfp_decompress at rate 8 and 16, precision 16 and accuracy 1e-3, the\n"
    "      streams checked equal first; the setting shows the largest error;\n"
    "      bzip2: each item compressed to one .bz2 stream by our pipeline at\n"
    "      level 9 and by libbz2 -9, and libbz2's stream decompressed by both\n"
    "      (every stream checked by the other side first);\n"
    "      LZO: each item as one buffer and as 256 KiB blocks, our methods 2\n"
    "      and 0 against lzo1x_1_compress and lzo1x_999_compress of liblzo2,\n"
    "      our validating and trusting decoders against lzo1x_decompress_safe\n"
    "      and lzo1x_decompress.\n"
    "      Slow rows take fewer samples.\n"
    "\n"
    "options:\n"
    "  --version     print the library version and exit\n"
    "  -h, --help    print this help and exit\n"
    "\n"
    "exit status: 0 success, 1 a file or the data could not be processed,\n"
    "2 bad command line, or input in a format this build cannot decompress.\n";

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

}  // namespace

void print_usage(bool to_stdout) {
    std::fputs(kUsage, to_stdout ? stdout : stderr);
}

}  // namespace vekdc

int main(int argc, char** argv) {
    using namespace vekdc;
    // A closed standard descriptor would be taken by the next file opened,
    // which output or messages would then reach. Each closed one is held by
    // /dev/null opened the other way round, so that using it still fails.
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            const int held = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
            if (held >= 0 && held != fd) {
                dup2(held, fd);
                close(held);
            }
        }
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
