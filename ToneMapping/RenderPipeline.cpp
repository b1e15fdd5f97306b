#include "RenderPipeline.h"

#include "BlackFrame.h"
#include "ColourPass.h"
#include "CoveredPixels.h"
#include "DisplayScale.h"
#include "EngineDefaults.h"
#include "ExtremePixels.h"
#include "Log.h"
#include "PictureFrame.h"
#include "PixelOps.h"
#include "ToneMapperFactory.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

// The kernel of a Gaussian blur must be odd and positive.
int oddKernelSize(int radius)
{
    const int size = std::max(1, radius);
    return size % 2 == 0 ? size + 1 : size;
}

// 3-channel float. Grey and BGRA photos are widened or narrowed here so that no
// stage meets a channel count it does not expect; other counts give an empty image.
cv::Mat toWorkingImage(const cv::Mat& image, bool alwaysCopy)
{
    if (image.empty())
        return cv::Mat();
    if (!alwaysCopy && image.type() == CV_32FC3)
        return image;
    const cv::Mat converted = convertBitDepth(image, 32);
    if (converted.empty())
        return cv::Mat();
    switch (converted.channels()) {
    case 3:
        return converted;
    case 1: {
        cv::Mat colour;
        cv::cvtColor(converted, colour, cv::COLOR_GRAY2BGR);
        return colour;
    }
    case 4: {
        cv::Mat colour;
        cv::cvtColor(converted, colour, cv::COLOR_BGRA2BGR);
        return colour;
    }
    default:
        return cv::Mat();
    }
}

// Negative and NaN elements become 0.
inline float nonNegative(float x)
{
    return x > 0.f ? x : 0.f;
}

// Runs op(in1 row, in2 row, out row, element count) over the rows in parallel.
template <typename RowOp>
cv::Mat elementwise(const cv::Mat& first, const cv::Mat& second, RowOp op)
{
    cv::Mat out(first.size(), first.type());
    const int count = first.cols * first.channels();
    cv::parallel_for_(cv::Range(0, first.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y)
            op(first.ptr<float>(y), second.ptr<float>(y), out.ptr<float>(y), count);
    });
    return out;
}

cv::Mat clearedCopy(const cv::Mat& image)
{
    return elementwise(image, image, [](const float* in, const float*, float* out, int count) {
        for (int i = 0; i < count; ++i)
            out[i] = nonNegative(in[i]);
    });
}

// strength * toneMapped + (1 - strength) * cropped, with negative and NaN elements
// of the operator's output and of the result cleared, in one pass.
cv::Mat blendCleared(const cv::Mat& toneMapped, const cv::Mat& cropped, float strength)
{
    const float keep = 1.f - strength;
    return elementwise(toneMapped, cropped, [strength, keep](const float* t, const float* c, float* out, int count) {
        for (int i = 0; i < count; ++i)
            out[i] = nonNegative(strength * nonNegative(t[i]) + keep * c[i]);
    });
}

// Each pixel's channels scaled alike by the unsharp mask of its luminance,
// (1 + amount) L - amount blur(L), so that sharpening changes no pixel's hue: a
// pixel darker or lighter than its neighbours' blur never takes their opposite
// colour. A luminance sharpened below 0 gives black.
cv::Mat unsharpLuminance(const cv::Mat& image, const cv::Mat& luminance, const cv::Mat& blur, float amount)
{
    const float gain = 1.f + amount;
    cv::Mat out(image.size(), image.type());
    cv::parallel_for_(cv::Range(0, image.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            const float* in = image.ptr<float>(y);
            const float* l = luminance.ptr<float>(y);
            const float* b = blur.ptr<float>(y);
            float* o = out.ptr<float>(y);
            for (int x = 0; x < image.cols; ++x) {
                const float sharpened = gain * l[x] - amount * b[x];
                const float ratio = l[x] > 0.f ? nonNegative(sharpened) / l[x] : 0.f;
                for (int k = 0; k < 3; ++k)
                    o[3 * x + k] = nonNegative(ratio * in[3 * x + k]);
            }
        }
    });
    return out;
}

// The second moment, in pixels squared, of the library's Gaussian kernel of this
// size and sigma (0: the sigma the size implies).
double kernelVariance(int size, double sigma)
{
    const cv::Mat kernel = cv::getGaussianKernel(size, sigma, CV_64F);
    const int centre = size / 2;
    double variance = 0.0;
    for (int i = 0; i < size; ++i)
        variance += kernel.at<double>(i) * (i - centre) * (i - centre);
    return variance;
}

// The Gaussian blur of the unsharp mask for an image at `scale` of the full size.
// Below full size it keeps the spread (the second moment) of the full-size kernel,
// measured in the smaller image's pixels, so that a reduced render is sharpened as
// much as the reduced full render would be. Below a pixel a sampled Gaussian's
// spread falls far short of its sigma's, so the sigma that gives the spread is sought.
void sharpeningBlur(const cv::Mat& image, cv::Mat& blur, int kernelSize, double scale)
{
    if (scale >= 1.0 || kernelSize <= 1) {
        cv::GaussianBlur(image, blur, cv::Size(kernelSize, kernelSize), 0.0, 0.0, cv::BORDER_REFLECT_101);
        return;
    }
    const double variance = kernelVariance(kernelSize, 0.0) * scale * scale;
    const double sigma = std::sqrt(variance);
    const int size = std::min(kernelSize, 2 * std::max(1, static_cast<int>(std::ceil(3.0 * sigma))) + 1);
    // The spread grows with the sigma; at `high` it is past the target.
    double low = 0.0;
    double high = std::max(1.0, 2.0 * sigma);
    for (int i = 0; i < 40; ++i) {
        const double middle = 0.5 * (low + high);
        (kernelVariance(size, middle) < variance ? low : high) = middle;
    }
    cv::GaussianBlur(image, blur, cv::Size(size, size), high, high, cv::BORDER_REFLECT_101);
}

// Linear scale of `reduced` against `full`: the geometric mean of both axes' ratios.
double scaleBetween(const cv::Size& reduced, const cv::Size& full)
{
    if (full.area() <= 0)
        return 1.0;
    return std::sqrt(static_cast<double>(reduced.width) / full.width * reduced.height / full.height);
}

// The full-size picture a frame shows: its crop, else the whole turned canvas.
cv::Size shownSize(const PictureFrame& picture, const cv::Rect& crop)
{
    const cv::Rect inCanvas = crop & cv::Rect(cv::Point(), picture.rotatedSize());
    return crop.x >= 0 && crop.y >= 0 && !inCanvas.empty() ? inCanvas.size() : picture.rotatedSize();
}

// out may be colour itself: each pixel is read before it is written.
template <typename T>
void clipTyped(const cv::Mat& reference, float blackClip, float whiteClip, const cv::Mat& colour, double fullScale,
               cv::Mat& out)
{
    const int channels = reference.channels();
    const double blackLevel = static_cast<double>(blackClip) * fullScale;
    const double whiteLevel = fullScale - static_cast<double>(whiteClip) * fullScale;
    const bool clipWhite = whiteClip != 0.f;
    const T white = static_cast<T>(fullScale);
    cv::parallel_for_(cv::Range(0, reference.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            const T* ref = reference.ptr<T>(y);
            const T* col = colour.ptr<T>(y);
            T* px = out.ptr<T>(y);
            for (int x = 0; x < reference.cols; ++x, ref += channels, col += channels, px += channels) {
                double sum = 0.0;
                for (int k = 0; k < channels; ++k)
                    sum += ref[k];
                const double mean = sum / channels;
                if (blackLevel > mean)
                    std::fill(px, px + channels, T(0));
                else if (clipWhite && mean > whiteLevel)
                    std::fill(px, px + channels, white);
                else if (px != col)
                    std::copy(col, col + channels, px);
            }
        }
    });
}

// False for a reference depth without a variant.
bool clipInto(const cv::Mat& reference, float blackClip, float whiteClip, const cv::Mat& colour, cv::Mat& out)
{
    switch (reference.depth()) {
    case CV_8U: clipTyped<uchar>(reference, blackClip, whiteClip, colour, 255.0, out); return true;
    case CV_16U: clipTyped<ushort>(reference, blackClip, whiteClip, colour, 65535.0, out); return true;
    case CV_32F: clipTyped<float>(reference, blackClip, whiteClip, colour, 1.0, out); return true;
    default: return false;
    }
}

}  // namespace

RenderPipeline::RenderPipeline()
    : settings_(engineDefaults),
      curve_(settings_.whites, settings_.highlights, settings_.shadows, settings_.blacks)
{
    settings_.sharpeningRadius = oddKernelSize(settings_.sharpeningRadius);
    setToneMapper(settings_.TMalgo);
}

RenderPipeline::~RenderPipeline() = default;

void RenderPipeline::setSourceImage(const cv::Mat& image, bool replaceInitial, SourceKind kind)
{
    cv::Mat working = toWorkingImage(image, true);
    if (working.empty()) {
        logError("RenderPipeline::setSourceImage",
                 image.empty() ? "empty image; source kept" : "unsupported image depth or channel count; source kept");
        return;
    }
    source_ = working;
    measuredScale_ = MeasuredScale();
    sourceKind_ = image.depth() == CV_32F ? kind : sourceKindOf(image.depth(), false);
    sourceMayBeLinear_ = image.depth() == CV_32F;
    if (initialSource_.empty() || replaceInitial)
        initialSource_ = source_;
    output_ = source_.clone();
    adoptPreviewBoxIfUnset(image.size());
    sourceChanged_ = true;
    drawingSourceStale_ = true;
    if (!toneMapper_)
        setToneMapper(settings_.TMalgo);
}

void RenderPipeline::setPreviewSize(const int size[2])
{
    setPreviewBox(cv::Size(size[0], size[1]));
}

void RenderPipeline::setToneMapper(int index)
{
    if (settings_.TMalgo == index && toneMapper_)
        return;
    toneMapper_.reset();
    toneMapper_ = makeToneMapper(index);
    settings_.TMalgo = index;
}

void RenderPipeline::changed(bool render, int restartStage)
{
    // Until a render redoes it, the stage this setting feeds is stale: a later render
    // asked to start further on must start there.
    staleStage_ = std::min(staleStage_, restartStage);
    if (render)
        renderPreview(restartStage, true);
}

template <typename Value>
void RenderPipeline::set(Value& setting, const Value& value, Stage restartStage, bool render)
{
    if (setting == value)
        return;
    setting = value;
    changed(render, restartStage);
}

void RenderPipeline::setParameter(const OperatorParameter& parameter, float value, bool render)
{
    set(settings_.params[parameter.toneMapper][parameter.slot], value, ToneMapStage, render);
}

void RenderPipeline::setCurve(float (Spline::*current)() const, void (Spline::*apply)(float), float value,
                              bool render)
{
    if ((curve_.*current)() == value)
        return;
    (curve_.*apply)(value);
    changed(render, ColourStage);
}

void RenderPipeline::setCurve(const Spline& curve)
{
    const std::vector<Spline::Point>& now = curve_.points();
    const std::vector<Spline::Point>& next = curve.points();
    const bool samePoints = std::equal(now.begin(), now.end(), next.begin(), next.end(),
                                       [](const Spline::Point& a, const Spline::Point& b) {
                                           return a.x == b.x && a.y == b.y;
                                       });
    curve_ = curve;
    if (!samePoints)
        changed(false, ColourStage);
}

void RenderPipeline::setTMAlgo(int index, bool render)
{
    if (settings_.TMalgo == index)
        return;
    operatorChanged_ = true;
    setToneMapper(index);
    changed(render, ToneMapStage);
}

void RenderPipeline::setTM1Alpha(float value, bool render) { setParameter(kTM1Alpha, value, render); }
void RenderPipeline::setTM1Beta(float value, bool render) { setParameter(kTM1Beta, value, render); }
void RenderPipeline::setTM2Alpha(float value, bool render) { setParameter(kTM2Alpha, value, render); }
void RenderPipeline::setTM3Alpha(float value, bool render) { setParameter(kTM3Alpha, value, render); }
void RenderPipeline::setTM3Beta(float value, bool render) { setParameter(kTM3Beta, value, render); }
void RenderPipeline::setTM3Gamma(float value, bool render) { setParameter(kTM3Gamma, value, render); }
void RenderPipeline::setTM4Alpha(float value, bool render) { setParameter(kTM4Alpha, value, render); }
void RenderPipeline::setTM4Beta(float value, bool render) { setParameter(kTM4Beta, value, render); }
void RenderPipeline::setTM4Gamma(float value, bool render) { setParameter(kTM4Gamma, value, render); }

void RenderPipeline::setRotation(float radians, bool render) { set(rotation_, radians, RotationStage, render); }
void RenderPipeline::setCrop(const cv::Rect& crop, bool render) { set(crop_, crop, CropStage, render); }
void RenderPipeline::setApplyTM(bool on, bool render) { set(settings_.applyTM, on, ToneMapStage, render); }
void RenderPipeline::setStrength(float v, bool render) { set(settings_.strength, v, SharpenStage, render); }
void RenderPipeline::setApplySharpening(bool on, bool render)
{
    set(settings_.applySharpening, on, SharpenStage, render);
}
void RenderPipeline::setSharpeningAmount(float v, bool render)
{
    set(settings_.sharpeningAmount, v, SharpenStage, render);
}
void RenderPipeline::setSharpeningRadius(int radius, bool render)
{
    set(settings_.sharpeningRadius, oddKernelSize(radius), SharpenStage, render);
}
void RenderPipeline::setSharpeningThreshold(float v, bool render)
{
    set(settings_.sharpeningThreshold, v, SharpenStage, render);
}
void RenderPipeline::setExposure(float v, bool render)
{
    const bool sharpeningMoves = settings_.applySharpening && sharpeningWhite(v) != sharpeningWhite(settings_.exposure);
    set(settings_.exposure, v, sharpeningMoves ? SharpenStage : ColourStage, render);
}
void RenderPipeline::setContrast(float v, bool render) { set(settings_.contrast, v, ColourStage, render); }
void RenderPipeline::setHue(float v, bool render) { set(settings_.hue, v, ColourStage, render); }
void RenderPipeline::setSaturation(float v, bool render) { set(settings_.saturation, v, ColourStage, render); }
void RenderPipeline::setVibrance(float v, bool render) { set(settings_.vibrance, v, ColourStage, render); }
void RenderPipeline::setBlackClip(float v, bool render) { set(settings_.blackClip, v, ColourStage, render); }
void RenderPipeline::setWhiteClip(float v, bool render) { set(settings_.whiteClip, v, ColourStage, render); }
void RenderPipeline::setWhites(float v, bool render) { setCurve(&Spline::whites, &Spline::setWhites, v, render); }
void RenderPipeline::setBlacks(float v, bool render) { setCurve(&Spline::blacks, &Spline::setBlacks, v, render); }
void RenderPipeline::setShadows(float v, bool render) { setCurve(&Spline::shadows, &Spline::setShadows, v, render); }
void RenderPipeline::setHighlights(float v, bool render)
{
    setCurve(&Spline::highlights, &Spline::setHighlights, v, render);
}

void RenderPipeline::applySettings(bool applyTM, int TMalgo, float p0, float p1, float p2, float blackClip,
                                   float whiteClip, float strength, float exposure, float contrast, float highlights,
                                   float shadows, float whites, float blacks, float hue, float saturation,
                                   float vibrance, bool applySharpening, float sharpeningAmount, int sharpeningRadius,
                                   float sharpeningThreshold)
{
    setApplyTM(applyTM, false);
    setTMAlgo(TMalgo, false);
    const float values[3] = {p0, p1, p2};
    const int index = settings_.TMalgo;
    for (int slot = 0; slot < operatorParameterCount(index); ++slot)
        setParameter({index, slot}, values[slot], false);
    setBlackClip(blackClip, false);
    setWhiteClip(whiteClip, false);
    setStrength(strength, false);
    setExposure(exposure, false);
    setContrast(contrast, false);
    setCurve(Spline(whites, highlights, shadows, blacks));
    setHue(hue, false);
    setSaturation(saturation, false);
    setVibrance(vibrance, false);
    setApplySharpening(applySharpening, false);
    setSharpeningAmount(sharpeningAmount, false);
    setSharpeningRadius(sharpeningRadius, false);
    setSharpeningThreshold(sharpeningThreshold, false);
}

void RenderPipeline::copySettings(const RenderPipeline& other)
{
    if (this == &other)
        return;
    // Points and side factors both: rebuilt from the four settings alone, the
    // curve would depend on the order in which they were applied.
    curve_ = other.curve_;
    settings_ = other.settings_;
    rotation_ = other.rotation_;
    crop_ = other.crop_;
    stepName_ = other.stepName_.load();
    toneMapper_ = makeToneMapper(settings_.TMalgo);
    // Every setting may have changed: no stage can be reused.
    staleStage_ = RotationStage;
}

std::unique_ptr<RenderPipeline> RenderPipeline::renderCopy() const
{
    auto copy = std::make_unique<RenderPipeline>();
    copy->copySettings(*this);
    // Sources are replaced, never written in place: the pixels may be shared.
    copy->initialSource_ = initialSource_;
    copy->source_ = source_;
    copy->sourceKind_ = sourceKind_;
    copy->sourceMayBeLinear_ = sourceMayBeLinear_;
    return copy;
}

bool RenderPipeline::cancelRequested() const
{
    return toneMapper_ && toneMapper_->cancel.load();
}

void RenderPipeline::clearCancel()
{
    if (toneMapper_)
        toneMapper_->cancel = false;
}

double RenderPipeline::shownScale(const cv::Mat& fullSize)
{
    if (sourceKind_ == SourceKind::DisplayReferred)
        return 1.0;
    const MeasuredScale& last = measuredScale_;
    if (last.of.data == fullSize.data && last.of.size() == fullSize.size() && last.rotation == rotation_ &&
        last.crop == crop_)
        return last.scale;
    const PictureFrame::Shown shown = PictureFrame(fullSize.size(), rotation_, crop_).shownPixels();
    const double scale = displayScale(fullSize(shown.box), sourceKind_, nullptr, shown.mask);
    if (fullSize.data == source_.data || fullSize.data == initialSource_.data)
        measuredScale_ = {fullSize, rotation_, crop_, scale};
    return scale;
}

cv::Mat RenderPipeline::drawnPreview(const PreviewFrame& frame) const
{
    const PictureFrame picture(source_.size(), rotation_, crop_);
    if (picture.isWhole())
        return previewSource_;
    // Rotated or cropped: the picture drawn, as the export's is, and reduced at the one
    // scale that fits it into the box, so a crop keeps its proportions.
    return picture.croppedReduced(drawingSource_, sourceFitting(shownSize(picture, crop_), frame));
}

cv::Mat RenderPipeline::fullSizeExtremes(const cv::Rect& picture)
{
    if (extremesOf_.data != cropped_.data || extremesOf_.size() != cropped_.size() || extremesIn_ != picture) {
        // The picture's pixels at full size, a preview pixel in from a frame's edge, where
        // the full-size frame's ringing or partly covered line may lie.
        const cv::Size size = cropped_.size();
        const double left = picture.x > 0 ? picture.x + 1 : 0;
        const double top = picture.y > 0 ? picture.y + 1 : 0;
        const double right = picture.br().x < size.width ? picture.br().x - 1 : size.width;
        const double bottom = picture.br().y < size.height ? picture.br().y - 1 : size.height;
        const cv::Rect2d within(left / size.width, top / size.height, std::max(0.0, right - left) / size.width,
                                std::max(0.0, bottom - top) / size.height);
        const PictureFrame::Shown shown = PictureFrame(source_.size(), rotation_, crop_).shownPixels(within);
        extremes_ = shown.box.empty() ? cv::Mat() : extremePixels(source_(shown.box), shown.mask);
        extremesOf_ = cropped_;
        extremesIn_ = picture;
    }
    return extremes_.empty() ? extremes_ : scaledToDisplay(extremes_, croppedScale_);
}

cv::Mat RenderPipeline::previewCoverage(const PreviewFrame& frame) const
{
    if (rotation_ == 0.f)
        return cv::Mat();
    // Drawn and reduced as drawnPreview draws the picture, so an edge pixel's share
    // is the one its reduced value holds.
    const PictureFrame picture(source_.size(), rotation_, crop_);
    return picture.croppedReduced(cv::Mat(drawingSource_.size(), CV_32F, cv::Scalar(1.0)),
                                  sourceFitting(shownSize(picture, crop_), frame));
}

void RenderPipeline::updateDrawingSource(const PreviewFrame& frame)
{
    const PictureFrame picture(source_.size(), rotation_, crop_);
    if (picture.isWhole())
        return;
    // Whole source pixels averaged in blocks, as many as leave at least one and a half
    // times the preview's resolution for the reduction after the drawing.
    constexpr double kOversampling = 1.5;
    const cv::Size scaled = sourceFitting(shownSize(picture, crop_), frame);
    const int factor = std::max(1, int(std::min(source_.cols / (kOversampling * scaled.width),
                                                source_.rows / (kOversampling * scaled.height))));
    const cv::Size size(std::max(1, int(std::lround(double(source_.cols) / factor))),
                        std::max(1, int(std::lround(double(source_.rows) / factor))));
    if (factor == 1) {
        drawingSource_ = source_;
    } else if (drawingSourceStale_ || drawingSource_.size() != size) {
        cv::Mat reduced;
        cv::resize(source_, reduced, size, 0.0, 0.0, cv::INTER_AREA);
        drawingSource_ = reduced;
    }
    drawingSourceStale_ = false;
}

bool RenderPipeline::toneMappingRuns() const
{
    return settings_.applyTM && toneMapper_ && settings_.TMalgo >= 0 && settings_.TMalgo < 5;
}

cv::Mat RenderPipeline::coverage(const cv::Size& imageSize, const cv::Size& sourceSize) const
{
    if (rotation_ == 0.f)
        return cv::Mat();
    // Drawn at the image's own scale: a pixel counts as whole well inside the edge.
    return PictureFrame(sourceSize, rotation_, crop_).cropped(cv::Mat(imageSize, CV_32F, cv::Scalar(1.0)));
}

bool RenderPipeline::toneMap(const cv::Mat& cropped, cv::Mat& toneMapped, bool preview, double scale,
                             const cv::Mat& coverage)
{
    if (!toneMappingRuns()) {
        toneMapped = clearedCopy(cropped);
        return true;
    }
    if (cancelRequested())
        return false;
    // Preview stages are never written in place, so the operator may keep what it
    // computed from the cropped stage while only its parameters change. A full
    // render's large intermediates are not worth keeping.
    toneMapper_->keepInputSteps = preview;
    toneMapper_->spatialScale = float(scale);
    // The stages before have brought the picture to the display range.
    toneMapper_->sourceKind = SourceKind::DisplayReferred;
    // Pixels the rotated picture covers only partly are left out like its canvas.
    const CoveredPixels covered(coverage.size() == cropped.size() ? coverage : cv::Mat());
    // The preview's kept: an operator finds the same input while only its parameters change.
    const bool kept = preview && insideOf_.data == cropped.data && !inside_.empty();
    const cv::Mat inside = kept ? inside_ : covered.picture(cropped);
    if (preview) {
        inside_ = inside;
        insideOf_ = cropped;
    }
    const BlackFrame frame(inside, sourceMayBeLinear_);
    const cv::Mat picture = inside(frame.picture());
    toneMapper_->fullSizeExtremes = preview && scale < 1.0 && toneMapper_->readsExtremes()
                                        ? fullSizeExtremes(frame.picture())
                                        : cv::Mat();
    cv::Mat result;
    toneMapper_->apply(result, picture, settings_.params[settings_.TMalgo]);
    if (cancelRequested())
        return false;
    if (result.size() != picture.size() || result.type() != picture.type()) {
        logError("RenderPipeline::toneMap", "operator " + std::to_string(settings_.TMalgo) +
                                                " gave an image of another size or type; not tone mapped");
        toneMapped = clearedCopy(cropped);
        return true;
    }
    toneMapped = covered.drawnBack(frame.framed(result));  // negative and NaN elements are cleared by the blend
    return true;
}

cv::Mat RenderPipeline::blend(const cv::Mat& toneMapped, const cv::Mat& cropped) const
{
    if (!toneMappingRuns())
        return toneMapped;
    return blendCleared(toneMapped, cropped, settings_.strength);
}

// The white the sharpening clips at: the display's, or above it where a lowered
// exposure brings brighter values into view.
float RenderPipeline::sharpeningWhite(float exposure)
{
    return std::max(1.f, 1.f / exposureToe(exposure).gain);
}

// No stage is written in place after it is made, so stages may share pixels.
cv::Mat RenderPipeline::sharpen(const cv::Mat& blended, double scale) const
{
    if (!settings_.applySharpening)
        return blended;
    cv::Mat luminance, blur;
    cv::transform(blended, luminance, cv::Matx13f(1.f / 61.f, 40.f / 61.f, 20.f / 61.f));
    // The luminance as the display shows it, clipped at white: a light hundreds of times
    // brighter than white (a sun) would otherwise outweigh its neighbours in the blur and
    // sharpen them to black. A pixel above white takes the ratio of its clipped luminance.
    luminance = cv::min(luminance, sharpeningWhite(settings_.exposure));
    sharpeningBlur(luminance, blur, settings_.sharpeningRadius, scale);
    return unsharpLuminance(blended, luminance, blur, settings_.sharpeningAmount);
}

cv::Mat RenderPipeline::colour(const cv::Mat& sharpened, const cv::Mat& cropped) const
{
    cv::Mat coloured;
    const ColourPassParameters parameters{settings_.hue, settings_.saturation, settings_.vibrance,
                                          exposureToe(settings_.exposure), settings_.contrast};
    parallelComputeLightImage(curve_, coloured, sharpened, parameters);
    clipInto(cropped, settings_.blackClip, settings_.whiteClip, coloured, coloured);
    return coloured;
}

int RenderPipeline::firstStageToRender(int startStage) const
{
    int start = sourceChanged_ ? RotationStage : startStage;
    if (operatorChanged_ && start > ToneMapStage)
        start = ToneMapStage;
    if (start < RotationStage || start > noStaleStage)
        return -1;
    // A cancelled render left its stage and the ones after it unfinished.
    return std::min(start, staleStage_);
}

double RenderPipeline::previewScale() const
{
    return scaleBetween(cropped_.size(), shownSize(PictureFrame(source_.size(), rotation_, crop_), crop_));
}

cv::Size RenderPipeline::sourceFitting(const cv::Size& shown, const PreviewFrame& frame) const
{
    const double fit = std::min(double(frame.box.width) / std::max(1, shown.width),
                                double(frame.box.height) / std::max(1, shown.height));
    // A picture that fits the box is not reduced.
    const double scale = fit < 1.0 ? fit / frame.reduction : 1.0;
    return cv::Size(std::max(1, static_cast<int>(std::lround(source_.cols * scale))),
                    std::max(1, static_cast<int>(std::lround(source_.rows * scale))));
}

RenderPipeline::PreviewFrame RenderPipeline::previewFrame(bool interactive) const
{
    PreviewFrame frame;
    frame.box = previewBox();
    frame.reduction = interactive && settings_.applyTM ? 1.5 : 1.0;
    // The box takes the shape of the picture shown: one scale on both axes, the one that
    // fits the turned picture into it. A crop is drawn from the full-size source, so a new
    // crop leaves the preview source as it is.
    const PictureFrame turned(source_.size(), rotation_, cv::Rect(-1, -1, -1, -1));
    frame.fitted = sourceFitting(turned.rotatedSize(), frame);
    frame.reduced = frame.fitted != source_.size();
    return frame;
}

void RenderPipeline::updatePreviewSource(const PreviewFrame& frame)
{
    // Shown as it is only when the picture is whole; turned, it is only the crop
    // tool's backdrop, which every step of a rotation drag resizes.
    const bool fromDrawingSource = rotation_ != 0.f && frame.reduced;
    if (!sourceChanged_ && previewSource_.size() == frame.fitted && previewSourceDrawn_ == fromDrawingSource)
        return;
    if (frame.reduced) {
        cv::Mat resized;
        // By pixel area: a bilinear reduction skips pixels and aliases.
        cv::resize(fromDrawingSource ? drawingSource_ : source_, resized, frame.fitted, 0.0, 0.0, cv::INTER_AREA);
        previewSource_ = resized;
    } else {
        previewSource_ = source_;
    }
    previewSourceDrawn_ = fromDrawingSource;
}

bool RenderPipeline::renderStage(int stage, const PreviewFrame& frame)
{
    switch (stage) {
    case RotationStage: {
        stepName_ = "ApplyRotation";
        renderedBox_ = frame.box;
        renderedReduction_ = frame.reduction;
        updateDrawingSource(frame);
        updatePreviewSource(frame);
        const PictureFrame picture(source_.size(), rotation_, crop_);
        fullWidth_ = picture.rotatedSize().width;
        fullHeight_ = picture.rotatedSize().height;
        rotated_ = picture.rotated(previewSource_);
        return true;
    }
    case CropStage: {
        stepName_ = "ApplyCrop";
        updateDrawingSource(frame);
        const cv::Mat drawn = drawnPreview(frame);
        croppedScale_ = shownScale(source_);
        cropped_ = scaledToDisplay(drawn, croppedScale_);
        croppedCoverage_ = previewCoverage(frame);
        return true;
    }
    case ToneMapStage:
        if (toneMappingRuns())
            stepName_ = "ComputePreview";
        return toneMap(cropped_, toneMapped_, true, previewScale(), croppedCoverage_);
    case SharpenStage: {
        stepName_ = "ApplyingSharpenning";
        const cv::Mat blended = blend(toneMapped_, cropped_);
        if (cancelRequested())
            return false;
        sharpened_ = sharpen(blended, previewScale());
        return true;
    }
    default:
        if (cancelRequested())
            return false;
        stepName_ = "ApplyingColorModifications";
        clipped_ = colour(sharpened_, cropped_);
        return true;
    }
}

void RenderPipeline::renderPreview(int startStage, bool interactive)
{
    clearCancel();
    if (source_.empty())
        return;
    int stage = firstStageToRender(startStage);
    if (stage < 0) {
        output_ = finished_;
        return;
    }
    const PreviewFrame frame = previewFrame(interactive);
    // Stages of another preview size (box resized, interactive or not) cannot be reused.
    // The preview source's size alone does not tell: a box that fits the whole turned
    // picture at the same size may fit its crop at another.
    if (previewSource_.size() != (frame.reduced ? frame.fitted : source_.size()) || frame.box != renderedBox_ ||
        frame.reduction != renderedReduction_)
        stage = RotationStage;
    for (; stage <= ColourStage; ++stage) {
        if (!renderStage(stage, frame)) {
            staleStage_ = stage;
            return;
        }
    }
    finished_ = clipped_;
    output_ = finished_;
    sourceChanged_ = false;
    operatorChanged_ = false;
    staleStage_ = noStaleStage;
}

cv::Mat RenderPipeline::renderImage(const cv::Mat& working, const cv::Mat& fullSize)
{
    clearCancel();
    // Rotation and crop are drawn in one pass.
    stepName_ = "ApplyRotation";
    const cv::Mat cropped =
        scaledToDisplay(PictureFrame(fullSize.size(), rotation_, crop_).cropped(working), shownScale(fullSize));
    stepName_ = "ApplyToneMap";
    const double scale = scaleBetween(working.size(), fullSize.size());
    cv::Mat toneMapped;
    if (!toneMap(cropped, toneMapped, false, scale, coverage(working.size(), fullSize.size())))
        return output_;
    stepName_ = "ApplyingSharpenning";
    const cv::Mat sharpened = sharpen(blend(toneMapped, cropped), scale);
    stepName_ = "ApplyingColorModifications";
    return colour(sharpened, cropped);
}

cv::Mat RenderPipeline::renderSource(const cv::Mat& image)
{
    const cv::Mat working = toWorkingImage(image, false);
    if (working.empty()) {
        clearCancel();
        logError("RenderPipeline::renderSource", "empty or unsupported image; nothing rendered");
        return cv::Mat();
    }
    return renderImage(working, working);
}

cv::Mat RenderPipeline::renderFull()
{
    if (source_.empty())
        return output_;
    output_ = renderSource(source_);
    return output_;
}

cv::Mat RenderPipeline::renderScaled()
{
    if (initialSource_.empty())
        return cv::Mat();
    const cv::Size size = thumbnailSize();
    cv::Mat reduced;
    cv::resize(initialSource_, reduced, cv::Size(std::max(1, size.width), std::max(1, size.height)), 0.0, 0.0,
               cv::INTER_AREA);
    // The rotation and the crop are those of the full-size source.
    return renderImage(reduced, initialSource_);
}

cv::Mat RenderPipeline::clipBlackWhite(const cv::Mat& reference, float blackClip, float whiteClip,
                                       const cv::Mat& colour)
{
    if (reference.empty())
        return cv::Mat();
    if (colour.size() != reference.size() || colour.channels() != reference.channels()) {
        logError("RenderPipeline::clipBlackWhite", "reference and colour images differ in size or channels");
        return colour;
    }
    const cv::Mat matched = colour.depth() == reference.depth() ? colour : convertBitDepth(colour, depthInBits(reference));
    cv::Mat result(reference.size(), reference.type());
    if (!clipInto(reference, blackClip, whiteClip, matched, result))
        return cv::Mat();
    return result;
}
