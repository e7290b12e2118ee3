// libzfp's serial array compressor and decompressor for the ZFP benchmark
// rows, configured with the mode functions the zfp tool uses.
#include "zfp_tool.h"

#if defined(VEKDC_HAVE_PEERS)
#include <zfp.h>
#endif

namespace vekdc {

#if defined(VEKDC_HAVE_PEERS)

namespace {

void set_mode(zfp_stream* zs, const ZfpMode& m) {
    switch (m.kind) {
        case ZfpMode::kRate:
            zfp_stream_set_rate(zs, m.value, zfp_type_float, 3, zfp_false);
            break;
        case ZfpMode::kPrecision:
            zfp_stream_set_precision(zs, static_cast<uint>(m.value));
            break;
        case ZfpMode::kAccuracy:
            zfp_stream_set_accuracy(zs, m.value);
            break;
    }
}

// Runs f on a stream over buf and a field over a; both freed afterwards.
template <class F>
auto with_stream(void* buf, size_t cap, float* a, const ZfpShape& s, const ZfpMode& m, F f) {
    bitstream* bs = stream_open(buf, cap);
    zfp_stream* zs = zfp_stream_open(bs);
    zfp_field* field = zfp_field_3d(a, zfp_type_float, s.nx, s.ny, s.nz);
    set_mode(zs, m);
    const auto result = f(zs, field);
    zfp_field_free(field);
    zfp_stream_close(zs);
    stream_close(bs);
    return result;
}

size_t compress(const float* a, const ZfpShape& s, const ZfpMode& m, uint8_t* dst, size_t cap) {
    return with_stream(dst, cap, const_cast<float*>(a), s, m,
                       [](zfp_stream* zs, zfp_field* f) { return zfp_compress(zs, f); });
}

bool decompress(const uint8_t* src, size_t n, const ZfpShape& s, const ZfpMode& m, float* a) {
    return with_stream(const_cast<uint8_t*>(src), n, a, s, m,
                       [](zfp_stream* zs, zfp_field* f) { return zfp_decompress(zs, f) != 0; });
}

const ZfpPeer kZfp = {"libzfp", compress, decompress};

}  // namespace

const ZfpPeer* zfp_peer() {
    return &kZfp;
}

#else

const ZfpPeer* zfp_peer() {
    return nullptr;
}

#endif

}  // namespace vekdc
