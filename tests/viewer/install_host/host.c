/* A host of the installed libqrv.so, built the way another project would build it. */
#include <qrv.h>
#include <stdio.h>
#include <string.h>

int main(void) {
    const QrvExport *init = &qrvExportTable[9 - 1];
    if (init->ordinal != 9 || strcmp(init->name, "_QRV3DInit") != 0 || !init->function) {
        fprintf(stderr, "host: the ordinal table is not as documented\n");
        return 1;
    }
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 64);
    if (GlobalSize(block) != 64 || GlobalFree(block) != NULL) {
        fprintf(stderr, "host: movable memory does not work\n");
        return 1;
    }
    puts("host: ok");
    return 0;
}
