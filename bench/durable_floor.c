/* The least a durable replacement of a whole file costs, for the benchmark to
 * measure fwbforge2 against: one kernel copy into a temporary beside the output,
 * flushed, renamed onto the output, the directory flushed.
 * Usage: durable_floor SRC DST */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static const char temporary_name[] = "/.durable_floor-XXXXXX";

static int fail(const char* what, const char* path) {
    fprintf(stderr, "durable_floor: %s %s: %s\n", what, path, strerror(errno));
    return 1;
}

static char* directory_of(const char* path) {
    const char* slash = strrchr(path, '/');
    if (slash == NULL) {
        return strdup(".");
    }
    return slash == path ? strdup("/") : strndup(path, (size_t)(slash - path));
}

/* The kernel may copy less than asked (or share extents) per call. */
static int copy_whole(int from, int to, off_t size) {
    while (size > 0) {
        const ssize_t copied = copy_file_range(from, NULL, to, NULL, (size_t)size, 0);
        if (copied <= 0) {
            if (copied == 0) {
                errno = EIO; /* the source shrank */
            }
            return -1;
        }
        size -= copied;
    }
    return 0;
}

static int write_temporary(int from, int to) {
    struct stat source;
    if (fstat(from, &source) != 0 || copy_whole(from, to, source.st_size) != 0 ||
        fchmod(to, source.st_mode & 0777) != 0 || fsync(to) != 0) {
        return -1;
    }
    return close(to);
}

static int flush_directory(const char* dir) {
    const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    const int flushed = fsync(fd);
    return close(fd) != 0 ? -1 : flushed;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: durable_floor SRC DST\n");
        return 2;
    }
    const char* source = argv[1];
    const char* output = argv[2];
    const int from = open(source, O_RDONLY | O_CLOEXEC);
    if (from < 0) {
        return fail("cannot open", source);
    }
    char* dir = directory_of(output);
    const size_t length = strlen(dir) + sizeof temporary_name;
    char* temporary = malloc(length);
    snprintf(temporary, length, "%s%s", dir, temporary_name);
    const int to = mkostemp(temporary, O_CLOEXEC);
    int status = 0;
    if (to < 0) {
        status = fail("cannot create a temporary file in", dir);
    } else if (write_temporary(from, to) != 0 || rename(temporary, output) != 0) {
        status = fail("cannot write", output);
        unlink(temporary);
    } else if (flush_directory(dir) != 0) {
        status = fail("cannot flush", dir);
    }
    free(temporary);
    free(dir);
    close(from);
    return status;
}
