/* floor-read-tsk IMAGE OFFSET:LENGTH...
 * The reading floor of a table scan in a container (E01, VHDX, ...): one
 * process reads the given byte ranges of the image through The Sleuth Kit's
 * image layer (tsk_img_read, which decompresses) into one 256 KiB buffer,
 * touching one byte per 1 KiB record, as floor-read.c does for a raw image.
 * Prints the checksum of the touched bytes. Build: cc -O2 ... -ltsk */
#include <stdio.h>
#include <stdlib.h>
#include <tsk/libtsk.h>

int main(int argc, char **argv) {
    if (argc < 3) { fprintf(stderr, "usage: floor-read-tsk IMAGE OFF:LEN...\n"); return 1; }
    TSK_IMG_INFO *img = tsk_img_open_utf8_sing(argv[1], TSK_IMG_TYPE_DETECT, 0);
    if (!img) { fprintf(stderr, "%s: %s\n", argv[1], tsk_error_get()); return 1; }
    enum { BLOCK = 256 * 1024 };
    static char buf[BLOCK];
    unsigned long sum = 0;
    for (int i = 2; i < argc; i++) {
        unsigned long long off, len;
        if (sscanf(argv[i], "%llu:%llu", &off, &len) != 2) { fprintf(stderr, "bad range %s\n", argv[i]); return 1; }
        while (len) {
            size_t n = len < BLOCK ? len : BLOCK;
            ssize_t got = tsk_img_read(img, (TSK_OFF_T)off, buf, n);
            if (got <= 0) { fprintf(stderr, "tsk_img_read: %s\n", tsk_error_get()); return 1; }
            for (ssize_t j = 0; j < got; j += 1024) sum += (unsigned char)buf[j];
            off += got; len -= got;
        }
    }
    tsk_img_close(img);
    printf("%lu\n", sum);
    return 0;
}
