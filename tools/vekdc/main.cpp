#include <cstdio>
#include "vekdc.h"
int main() {
    const vekLibVersion* v = vekdcGetLibVersion();
    std::printf("vekdc %s\n", v->versionText);
    return 0;
}
