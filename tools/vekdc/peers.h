// Peer libraries linked into the x86-64 build (zlib, libdeflate, ISA-L),
// listed per primitive so that a benchmark family only asks for the peers
// of its own kind. Builds without peers (i686) get empty lists. A codec
// family adds its own list next to these, in its own peers_*.cpp file.
#pragma once

#include <vector>

#include "checksums.h"

namespace vekdc {

struct ChecksumPeer {
    const char* name;      // library, e.g. "zlib"
    ChecksumKind kind;
    ChecksumUpdate update; // same state convention as ours for `kind`
};

// Peers computing `kind`; empty when none is linked or none exports it.
std::vector<ChecksumPeer> checksum_peers(ChecksumKind kind);

// Names of all peer libraries in this build, for the report header.
const char* peer_libraries();

} // namespace vekdc
