// Entry points of the tool's commands. Each receives the arguments that
// follow the command name and returns the process exit status.
#pragma once

namespace vekdc {

int cmd_checksum(int argc, char** argv);
int cmd_compress(int argc, char** argv);
int cmd_decompress(int argc, char** argv);
int cmd_bench(int argc, char** argv);

// Full usage text on `out` (stdout for --help).
void print_usage(bool to_stdout);

}  // namespace vekdc
