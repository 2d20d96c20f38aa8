#pragma once

// Status codes of the stages; the same numbers are the process's exit status.
enum Status : int {
    PROVKIT_OK = 0,
    PROVKIT_ERR_ODD_HEX = 1,
    PROVKIT_ERR_USAGE = 1, // a command line the tool cannot take
    PROVKIT_ERR_BAD_HEX = 65,
    PROVKIT_ERR_MALFORMED = 65, // input that is not well-formed XML or CSV
    PROVKIT_ERR_FILE = 67,
    PROVKIT_ERR_DATA = 69,
    // Kept so the number stays reserved: blobs decode straight into BoardData's
    // fixed arrays, so no allocation exists that could fail.
    PROVKIT_ERR_NOMEM = 74,
    PROVKIT_ERR_LIBTOM = 75,
};
