#include "Utilities.h"

#include <cstring>
#include <sstream>

int indexOfString(const char* const* table, int count, const char* text)
{
    if (!table || !text)
        return -1;
    for (int i = 0; i < count; ++i) {
        if (table[i] && std::strcmp(table[i], text) == 0)
            return i;
    }
    return -1;
}

void splitStringInto(const std::string& text, char delimiter, std::vector<std::string>& pieces)
{
    std::istringstream stream(text);
    std::string piece;
    while (std::getline(stream, piece, delimiter))
        pieces.push_back(piece);
}

std::vector<std::string> splitString(const std::string& text, char delimiter)
{
    std::vector<std::string> pieces;
    splitStringInto(text, delimiter, pieces);
    return pieces;
}

void fitInBox(const cv::Size& size, int boxWidth, int boxHeight, int* widthOut, int* heightOut)
{
    int width = 0;
    int height = 0;
    if (size.width > 0 && size.height > 0 && boxWidth > 0 && boxHeight > 0) {
        const float aspect = static_cast<float>(size.width) / static_cast<float>(size.height);
        if (static_cast<float>(boxWidth) / static_cast<float>(boxHeight) > aspect) {
            height = boxHeight;
            width = static_cast<int>(boxHeight * aspect);
        } else {
            width = boxWidth;
            height = static_cast<int>(boxWidth / aspect);
        }
    }
    if (widthOut)
        *widthOut = width;
    if (heightOut)
        *heightOut = height;
}
