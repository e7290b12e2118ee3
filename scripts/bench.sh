#!/bin/bash
# Builds the x86-64 library and tool and runs the benchmark on the built-in
# corpus, printing the comparison table against the peer libraries.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target vekdc_tool
exec build/default/tools/vekdc/vekdc bench "$@"
