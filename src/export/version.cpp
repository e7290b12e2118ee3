// The version record: fixed at build time, read-only for the library's life.
#include "vekdc.h"

namespace {
const char kLibraryName[] = "vekDC AVX2 (h9)";
const char kVersionText[] = "2021.2 (r0xf3439343)";
const char kBuildDate[] = "Feb 26 2021";

const vekLibVersion s_libVer = {
    2021, 2, 0, 0xF3439343u, {'h', '9', 0, 0}, kLibraryName, kVersionText, kBuildDate};
}  // namespace

extern "C" VEKDC_API const vekLibVersion* vekdcGetLibVersion(void) {
    return &s_libVer;
}
