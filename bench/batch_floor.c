/* The least a durable batch of images costs, for the benchmark to measure
 * fwbforge2 --all against, in one thread: per device one kernel copy of the base
 * into a temporary, 8 KiB written in place at the region, the image's SHA-256
 * (the processor's SHA instructions, through libcrypto), the file flushed; then
 * every temporary renamed into place and the directory flushed once.
 * Usage: batch_floor BASE OUTDIR COUNT REGION_OFFSET */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { kRegionBytes = 8192, kBlock = 256 * 1024 };

static int fail(const char* what, const char* path) {
    fprintf(stderr, "batch_floor: %s %s: %s\n", what, path, strerror(errno));
    return 1;
}

static int copy_whole(int from, int to, off_t size) {
    off_t in = 0;
    while (in < size) {
        const ssize_t copied = copy_file_range(from, &in, to, NULL, (size_t)(size - in), 0);
        if (copied <= 0) {
            errno = copied == 0 ? EIO : errno;
            return -1;
        }
    }
    return 0;
}

/* The image's digest: the base's bytes with the region's in their place. */
static int hash_image(int base, off_t size, off_t region, const unsigned char* bytes,
                      unsigned char* block, unsigned char digest[32]) {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    int failed = context == NULL || EVP_DigestInit_ex(context, EVP_sha256(), NULL) != 1;
    for (off_t at = 0; !failed && at < size;) {
        const size_t want = (size_t)(size - at < kBlock ? size - at : kBlock);
        const ssize_t got = pread(base, block, want, at);
        failed = got <= 0;
        const off_t from = region > at ? region : at;
        const off_t to = region + kRegionBytes < at + got ? region + kRegionBytes : at + got;
        if (!failed && from < to) {
            memcpy(block + (from - at), bytes + (from - region), (size_t)(to - from));
        }
        failed = failed || EVP_DigestUpdate(context, block, (size_t)got) != 1;
        at += got > 0 ? got : 0;
    }
    failed = failed || EVP_DigestFinal_ex(context, digest, NULL) != 1;
    EVP_MD_CTX_free(context);
    return failed ? -1 : 0;
}

static int write_one(int base, off_t size, off_t region, const char* path,
                     unsigned char* bytes, unsigned char* block, long device) {
    memset(bytes, (int)(device & 0xff), kRegionBytes);
    unsigned char digest[32];
    const int out = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0 || copy_whole(base, out, size) != 0 ||
        pwrite(out, bytes, kRegionBytes, region) != kRegionBytes ||
        hash_image(base, size, region, bytes, block, digest) != 0 || fsync(out) != 0 ||
        close(out) != 0) {
        return fail("cannot write", path);
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "Usage: batch_floor BASE OUTDIR COUNT REGION_OFFSET\n");
        return 2;
    }
    const long count = strtol(argv[3], NULL, 10);
    const off_t region = (off_t)strtoll(argv[4], NULL, 0);
    const int base = open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (base < 0 || fstat(base, &info) != 0) {
        return fail("cannot read", argv[1]);
    }
    unsigned char* bytes = malloc(kRegionBytes);
    unsigned char* block = malloc(kBlock);
    char from[4096];
    char to[4096];
    for (long i = 0; i < count; ++i) {
        snprintf(from, sizeof from, "%s/.floor-%ld", argv[2], i);
        if (write_one(base, info.st_size, region, from, bytes, block, i) != 0) {
            return 1;
        }
    }
    for (long i = 0; i < count; ++i) {
        snprintf(from, sizeof from, "%s/.floor-%ld", argv[2], i);
        snprintf(to, sizeof to, "%s/device-%ld.fwb", argv[2], i);
        if (rename(from, to) != 0) {
            return fail("cannot rename", from);
        }
    }
    const int directory = open(argv[2], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0 || fsync(directory) != 0) {
        return fail("cannot flush", argv[2]);
    }
    free(bytes);
    free(block);
    return 0;
}
