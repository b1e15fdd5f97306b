#pragma once
#include <opencv2/core.hpp>

#include <string>

// The camera raw decoder, driven like the command-line decoder with a fixed argument
// list. Instead of writing a file it leaves the decoded picture in rawDecoderImage.

// The last decoded picture: RGB order, even width, 16-bit with "-6" (else 8-bit),
// already through the output gamma curve. Empty while no picture is waiting; the
// reader takes it over and leaves it empty. Guarded by imageLibraryMutex().
extern cv::Mat rawDecoderImage;

// Understands "-T", "-w", "-6", "-o n", "-g power slope", "-H n", "-q n" and "-h";
// every other argument after the options is a file to decode. argv[0] is the program
// name; argv holds exactly argc entries. Returns 0 when every file decoded, else 1.
// Each call starts from the default options.
int dcraw_main(int argc, const char* const* argv);

// False when some colour of a decoded picture is zero everywhere. A raw whose black
// level, white level or white balance was damaged decodes without complaint into
// such a picture, all black or without green; a real photograph always has signal,
// if only its noise.
bool everyColourHasSignal(const cv::Mat& picture);

// Width (even) and height of the full decode of a camera raw file, found from its
// header alone; an empty size when the decoder does not recognise the file.
cv::Size rawPictureSize(const std::string& path);
