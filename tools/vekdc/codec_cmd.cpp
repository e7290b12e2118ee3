// vekdc compress / vekdc decompress.
//
// The command frame is laid out in the usage text; each format is added to
// it together with its codec. Until the first one exists both commands only
// say so.
#include <cstring>

#include "cli.h"
#include "commands.h"

namespace vekdc {

namespace {

int no_formats(const char* command, int argc, char** argv) {
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) break;
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            print_usage(true);
            return kExitOk;
        }
    }
    print_error("%s: no formats are available in this build", command);
    return kExitUsage;
}

} // namespace

int cmd_compress(int argc, char** argv) { return no_formats("compress", argc, argv); }

int cmd_decompress(int argc, char** argv) { return no_formats("decompress", argc, argv); }

} // namespace vekdc
