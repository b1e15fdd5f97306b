#pragma once
#include <opencv2/core.hpp>

#include <string>
#include <vector>

// Index of the first entry equal to text (exact bytes); -1 when none or count < 1.
int indexOfString(const char* const* table, int count, const char* text);

// Pieces between delimiters, as a line reader with the delimiter as line end yields
// them: adjacent delimiters give an empty piece, a final delimiter no empty piece.
std::vector<std::string> splitString(const std::string& text, char delimiter);
void splitStringInto(const std::string& text, char delimiter, std::vector<std::string>& pieces);

// Largest size of the same aspect ratio that fits the box; null outputs are skipped.
// A zero-sized image or box gives 0 x 0.
void fitInBox(const cv::Size& size, int boxWidth, int boxHeight, int* widthOut, int* heightOut);

// Body of an HTTP GET, or what arrived before a failure (usually nothing). The request
// gives up after the connect and total time-outs, in seconds.
std::string downloadText(const std::string& url, long connectTimeoutSeconds = 10, long totalTimeoutSeconds = 30);
