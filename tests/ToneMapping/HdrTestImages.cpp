#include "HdrTestImages.h"

#include "PixelOps.h"
#include "TestMedia.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace hdrtest {

cv::Mat syntheticHdr(cv::Size size, int seed)
{
    cv::Mat image(size, CV_32FC3);
    cv::RNG(seed).fill(image, cv::RNG::UNIFORM, 0.0, 1.0);
    cv::GaussianBlur(image, image, cv::Size(0, 0), 4.0);
    cv::rectangle(image, cv::Rect(size.width / 4, size.height / 4, size.width / 3, size.height / 3),
                  cv::Scalar(40.0, 30.0, 20.0), cv::FILLED);
    cv::circle(image, cv::Point(size.width * 3 / 4, size.height / 2), size.height / 6, cv::Scalar(0.01, 0.02, 0.015),
               cv::FILLED);
    return image;
}

const std::vector<const char*> kEdgeInputs = {"black",    "flat",    "tiny",      "single-pixel",
                                              "thin-row", "rotated", "non-finite"};

cv::Mat namedInput(const std::string& name)
{
    if (name == "black")
        return cv::Mat::zeros(48, 64, CV_32FC3);
    if (name == "flat")
        return cv::Mat(48, 64, CV_32FC3, cv::Scalar(0.3, 0.3, 0.3));
    if (name == "tiny")
        return syntheticHdr(cv::Size(13, 9), 2);
    if (name == "single-pixel")
        return cv::Mat(1, 1, CV_32FC3, cv::Scalar(0.2, 0.5, 0.9));
    if (name == "thin-row")
        return syntheticHdr(cv::Size(300, 2), 3);
    if (name == "non-finite") {
        cv::Mat image = syntheticHdr(cv::Size(90, 70), 5);
        image.at<cv::Vec3f>(10, 10) = cv::Vec3f(std::nanf(""), 1.0f, 1.0f);
        image.at<cv::Vec3f>(40, 60) = cv::Vec3f::all(std::numeric_limits<float>::infinity());
        image.at<cv::Vec3f>(60, 20)[2] = -std::numeric_limits<float>::infinity();
        return image;
    }
    // A photo rotated by the horizon tool: black corners around the picture.
    cv::Mat rotated;
    rotateImage(syntheticHdr(cv::Size(160, 120), 4), rotated, 0.3);
    return rotated;
}

std::string inputName(const ::testing::TestParamInfo<const char*>& info)
{
    std::string name = info.param;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

namespace {

const QString kHdriFolder = QStringLiteral("blender-data/usr/share/blender/datafiles/studiolights/world");

// An .exr file as 3-channel float, or empty.
cv::Mat readExr(const QString& path)
{
    setenv("OPENCV_IO_ENABLE_OPENEXR", "1", 0);
    cv::Mat image = cv::imread(path.toStdString(), cv::IMREAD_UNCHANGED);
    if (image.empty())
        return image;
    if (image.channels() == 4)
        cv::cvtColor(image, image, cv::COLOR_BGRA2BGR);
    image.convertTo(image, CV_32F);
    return image;
}

}  // namespace

cv::Mat realHdrImage(cv::Size size, const char* name)
{
    const QString path = testmedia::mediaFile(kHdriFolder + "/" + name);
    cv::Mat image = path.isEmpty() ? cv::Mat() : readExr(path);
    if (image.empty())
        return image;
    cv::Mat scaled;
    cv::resize(image, scaled, size, 0, 0, cv::INTER_AREA);
    cv::max(scaled, cv::Scalar::all(0.0), scaled);
    return scaled;
}

cv::Mat syntheticHdrImage(int rows, int columns, int channels, uint64_t seed)
{
    cv::RNG rng(seed);
    cv::Mat noise(rows, columns, CV_32FC(channels));
    rng.fill(noise, cv::RNG::UNIFORM, 0.0f, 1.0f);
    cv::Mat smooth;
    cv::GaussianBlur(noise, smooth, cv::Size(0, 0), 2.0);
    cv::Mat scene;
    cv::exp((smooth - 0.5f) * 40.0f + noise * 0.5f, scene);
    return scene;
}

std::vector<std::pair<std::string, cv::Mat>> realHdrImages(int maxSide)
{
    std::vector<std::pair<std::string, cv::Mat>> images;
    const QStringList files = testmedia::mediaFiles(kHdriFolder, {QStringLiteral("*.exr")});
    for (const QString& file : files) {
        cv::Mat image = readExr(file);
        if (image.empty())
            continue;
        const double scale = static_cast<double>(maxSide) / std::max(image.rows, image.cols);
        if (scale < 1.0)
            cv::resize(image, image, cv::Size(), scale, scale, cv::INTER_AREA);
        images.emplace_back(file.section('/', -1).toStdString(), image);
    }
    return images;
}

bool finiteInUnitRange(const cv::Mat& image)
{
    return !image.empty() && cv::checkRange(image, true, nullptr, 0.0, 1.0 + 1e-6);
}

}  // namespace hdrtest
