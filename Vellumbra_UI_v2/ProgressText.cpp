#include "ProgressText.h"

QString imageNumberText(const std::string& pattern, int ordinal, int count)
{
    const int numbers[2] = {ordinal, count};
    int used = 0;
    std::string text;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        if (pattern[i] == '%' && next == '%') {
            text += '%';
            ++i;
        } else if (pattern[i] == '%' && (next == 'd' || next == 'i') && used < 2) {
            text += std::to_string(numbers[used++]);
            ++i;
        } else {
            text += pattern[i];
        }
    }
    return QString::fromStdString(text);
}
