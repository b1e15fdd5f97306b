#include "TileColours.h"

#include "Log.h"
#include "VellumbraResources.h"

#include <opencv2/core.hpp>

#include <array>

namespace {

constexpr std::array<std::array<int, 3>, 15> kColours = {{{100, 2, 2},
                                                         {2, 100, 2},
                                                         {2, 2, 100},
                                                         {100, 100, 100},
                                                         {100, 100, 2},
                                                         {100, 2, 100},
                                                         {2, 2, 2},
                                                         {2, 100, 100},
                                                         {50, 2, 2},
                                                         {2, 50, 2},
                                                         {2, 2, 50},
                                                         {50, 50, 50},
                                                         {50, 50, 2},
                                                         {50, 2, 50},
                                                         {2, 50, 50}}};

const QImage& pinPicture()
{
    static const QImage pin = [] {
        loadVellumbraResources();
        const QImage picture(QStringLiteral(":/Vellumbra/Resources/Pin.svg"));
        if (picture.isNull())
            logError("tintedPin", "The pin picture ':/Vellumbra/Resources/Pin.svg' could not be read.");
        return picture;
    }();
    return pin;
}

}  // namespace

QColor tileColour(int tileNumber)
{
    const int count = static_cast<int>(kColours.size());
    const auto& rgb = kColours[static_cast<std::size_t>((tileNumber % count + count) % count)];
    return QColor(rgb[0], rgb[1], rgb[2]);
}

QImage tintPin(const QImage& pin, const QColor& colour)
{
    if (pin.isNull())
        return QImage();
    QImage tinted = pin.convertToFormat(QImage::Format_ARGB32);
    // Format_ARGB32 is a 32-bit word per pixel: blue, green, red, alpha bytes in
    // memory on little-endian machines.
    cv::Mat pixels(tinted.height(), tinted.width(), CV_8UC4, tinted.bits(), static_cast<size_t>(tinted.bytesPerLine()));
    cv::Mat alpha;
    cv::extractChannel(pixels, alpha, 3);
    cv::add(pixels, cv::Scalar(colour.blue(), colour.green(), colour.red(), 0), pixels, alpha != 0);
    return tinted;
}

QImage tintedPin(int tileNumber)
{
    return tintPin(pinPicture(), tileColour(tileNumber));
}
