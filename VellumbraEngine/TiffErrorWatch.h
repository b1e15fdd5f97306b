#pragma once

// Counts the errors that libtiff reports about the file being read while it lives.
// DevIL, FreeImage, Magick++ and OpenCV share one libtiff and each installs its own
// error handler over the others', so a library may never hear of the errors in the
// file it reads and hand over a picture with blank strips. Callers hold
// imageLibraryMutex().
class TiffErrorWatch {
public:
    TiffErrorWatch();
    int errors() const;

    // Removes the libraries' own libtiff handlers. Magick++'s keeps a pointer to the
    // state of the last read it made and aborts the process when libtiff calls it
    // later, during another library's read or write.
    static void detachLibraryHandlers();
};
