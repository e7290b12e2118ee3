/* Installed-tree consumer: links against libvekdch9 and checks a value. */
#include <stdio.h>
#include <string.h>
#include <vekdc.h>

int main(void) {
    const vekLibVersion* v = vekdcGetLibVersion();
    uint32_t crc = 0;
    if (veksCRC32_8u((const uint8_t*)"123456789", 9, &crc) != vekStatusOk || crc != 0xCBF43926u) {
        fprintf(stderr, "wrong CRC-32 %08x\n", (unsigned)crc);
        return 1;
    }
    printf("%s %s\n", v->libraryName, v->versionText);
    return strcmp(v->libraryName, "vekDC AVX2 (h9)") != 0;
}
