#include "FileExtensions.h"

const char* const imageExtensions[imageExtensionCount] = {
    "tif", "jpg", "png", "psd", "bmp", "hdr", "3fr", "ari", "arw", "bay", "crw", "cr2", "cap", "dcs", "dcr", "dng",
    "drf", "eip", "erf", "fff", "iiq", "k25", "kdc", "mdc", "mef", "mos", "mrw", "nef", "nrw", "obm", "orf", "pef",
    "ptx", "pxn", "r3d", "raf", "raw", "rwl", "rw2", "rwz", "sr2", "srf", "srw", "x3f", "dpx", "exr", "gif", "tga"};

const char* const videoExtensions[videoExtensionCount] = {"avi", "mov", "mp4", "mpg", "mpeg",
                                                          "wmv", "mkv", "mts", "mxf"};

const char* const exportExtensions[exportExtensionCount] = {"tif", "hdr", "jpg", "dpx", "exr", "psd", "png",
                                                            "bmp", "gif", "pgm", "ppm", "pdf", "tga"};
