#pragma once
#include "EngineDefaults.h"
#include "Spline.h"
#include "ToneMappingBase.h"

#include <opencv2/core.hpp>

#include <atomic>
#include <memory>
#include <string>

// One view's cached render: source -> rotation -> crop -> tone mapping ->
// strength and sharpening -> colour and clipping. Each setter re-renders, on
// request, only from the first stage its setting feeds.
//
// Not locked: one thread renders a pipeline at a time and settings do not change
// while it does. Only the operator's cancel flag crosses threads.
class RenderPipeline {
public:
    // Preview stages, the restart points of the setters.
    enum Stage { RotationStage = 0, CropStage = 1, ToneMapStage = 2, SharpenStage = 3, ColourStage = 4 };

    RenderPipeline();
    ~RenderPipeline();
    RenderPipeline(const RenderPipeline&) = delete;
    RenderPipeline& operator=(const RenderPipeline&) = delete;

    // Takes any depth with 1, 3 or 4 channels; the working source is 3-channel float.
    // kind: what the picture is, as whoever made it knows; an 8- or 16-bit image is
    // display-referred whatever is said.
    void setSourceImage(const cv::Mat& image, bool replaceInitial, SourceKind kind = SourceKind::Unknown);
    // The preview box of every pipeline.
    static void setPreviewSize(const int size[2]);
    void setToneMapper(int index);

    void setRotation(float radians, bool render);
    // x, y, width, height in pixels of the full-size rotated image; -1 everywhere is no crop.
    void setCrop(const cv::Rect& crop, bool render);
    void setApplyTM(bool applyTM, bool render);
    void setTMAlgo(int index, bool render);
    void setTM1Alpha(float value, bool render);
    void setTM1Beta(float value, bool render);
    void setTM2Alpha(float value, bool render);
    void setTM3Alpha(float value, bool render);
    void setTM3Beta(float value, bool render);
    void setTM3Gamma(float value, bool render);
    void setTM4Alpha(float value, bool render);
    void setTM4Beta(float value, bool render);
    void setTM4Gamma(float value, bool render);
    // The operator parameter's setting, whichever operator is in use.
    void setParameter(const OperatorParameter& parameter, float value, bool render);
    void setStrength(float strength, bool render);
    void setApplySharpening(bool applySharpening, bool render);
    void setSharpeningAmount(float amount, bool render);
    // Gaussian kernel size; made odd and at least 1.
    void setSharpeningRadius(int radius, bool render);
    void setSharpeningThreshold(float threshold, bool render);
    void setExposure(float exposure, bool render);
    void setContrast(float contrast, bool render);
    void setHue(float hue, bool render);
    void setSaturation(float saturation, bool render);
    void setVibrance(float vibrance, bool render);
    void setWhites(float whites, bool render);
    void setBlacks(float blacks, bool render);
    void setHighlights(float highlights, bool render);
    void setShadows(float shadows, bool render);
    void setBlackClip(float blackClip, bool render);
    void setWhiteClip(float whiteClip, bool render);

    // A preset's values, in the preset record's order; never renders. The tone curve
    // is made from its four settings at once, as a new pipeline's is, whatever the
    // curve held before.
    void applySettings(bool applyTM, int TMalgo, float p0, float p1, float p2, float blackClip, float whiteClip,
                       float strength, float exposure, float contrast, float highlights, float shadows, float whites,
                       float blacks, float hue, float saturation, float vibrance, bool applySharpening,
                       float sharpeningAmount, int sharpeningRadius, float sharpeningThreshold);
    // Every setting of other, none of its images; always makes a fresh operator.
    void copySettings(const RenderPipeline& other);
    // Every setting and the sources of this pipeline, nothing cached: a copy another
    // thread may render in full while this one goes on being shown and changed.
    std::unique_ptr<RenderPipeline> renderCopy() const;

    // Renders the preview from startStage on, reusing the stages before it;
    // the result is output(). Interactive renders with tone mapping on use a box
    // 1.5 times smaller on each side.
    void renderPreview(int startStage, bool interactive);
    // Full-resolution render of the source; also becomes output().
    cv::Mat renderFull();
    // Render of the first source reduced to thumbnailSize(); output() is kept.
    cv::Mat renderScaled();
    // Full-resolution render of any image; the last preview when cancelled.
    cv::Mat renderSource(const cv::Mat& image);

    // Pixels whose reference mean is below blackClip (of full scale) become 0,
    // above 1 - whiteClip full scale; the others take colour's pixel. The result
    // has the reference's size and type.
    static cv::Mat clipBlackWhite(const cv::Mat& reference, float blackClip, float whiteClip, const cv::Mat& colour);

    const cv::Mat& output() const { return output_; }
    // The preview was last drawn at the interactive renders' smaller size.
    bool showsQuickPreview() const { return renderedReduction_ > 1.0; }
    SourceKind sourceKind() const { return sourceKind_; }
    const cv::Mat& initialSource() const { return initialSource_; }
    const cv::Mat& source() const { return source_; }
    const cv::Mat& previewSource() const { return previewSource_; }
    const cv::Mat& rotated() const { return rotated_; }
    const cv::Mat& cropped() const { return cropped_; }
    const cv::Mat& toneMapped() const { return toneMapped_; }
    const cv::Mat& sharpened() const { return sharpened_; }
    const cv::Mat& clipped() const { return clipped_; }
    // Null while the index has no operator. Set its cancel flag to stop a render.
    ToneMappingBase* toneMapper() const { return toneMapper_.get(); }
    int TMalgo() const { return settings_.TMalgo; }
    // The three parameters of operator index 0 to 4.
    const float* params(int index) const { return settings_.params[index]; }
    float rotation() const { return rotation_; }
    cv::Rect crop() const { return crop_; }
    int fullWidth() const { return fullWidth_; }
    int fullHeight() const { return fullHeight_; }
    const Spline& curve() const { return curve_; }
    float exposure() const { return settings_.exposure; }
    float contrast() const { return settings_.contrast; }
    float hue() const { return settings_.hue; }
    float saturation() const { return settings_.saturation; }
    float vibrance() const { return settings_.vibrance; }
    float blackClip() const { return settings_.blackClip; }
    float whiteClip() const { return settings_.whiteClip; }
    bool applyTM() const { return settings_.applyTM; }
    float strength() const { return settings_.strength; }
    bool applySharpening() const { return settings_.applySharpening; }
    float sharpeningAmount() const { return settings_.sharpeningAmount; }
    int sharpeningRadius() const { return settings_.sharpeningRadius; }
    float sharpeningThreshold() const { return settings_.sharpeningThreshold; }
    // The language key of the step a render is in; read by other threads while it runs.
    const char* stepName() const { return stepName_.load(); }

private:
    static constexpr int noStaleStage = 5;

    // A setting changes only when its value does; then a render from restartStage on.
    template <typename Value>
    void set(Value& setting, const Value& value, Stage restartStage, bool render);
    // The tone curve's four settings live in curve_, which clamps them.
    void setCurve(float (Spline::*current)() const, void (Spline::*apply)(float), float value, bool render);
    // The whole curve at once; never renders.
    void setCurve(const Spline& curve);
    void changed(bool render, int restartStage);
    bool cancelRequested() const;
    void clearCancel();

    // The factor that brings the picture shown of `fullSize` (the source at full size)
    // to the display range (displayScale). The operators, the strength blend and the
    // colour pass all take the picture there, so an HDR renders alike at any scale;
    // measured at full size, a preview's picture is brought there as its export's is.
    // The last measure of a source this pipeline holds is kept for the same rotation
    // and crop: a drag's quick previews and the preset tiles do not measure again.
    double shownScale(const cv::Mat& fullSize);
    struct PreviewFrame;
    // The same for the preview, before the display range: the full-size picture reduced
    // to fit the preview box.
    cv::Mat drawnPreview(const PreviewFrame& frame) const;
    // The extreme pixels of the full-size picture the cropped stage shows, inside the
    // frame the operator sees (`picture`, in the cropped stage's pixels), in the
    // cropped stage's units; found again only when that stage or the frame changes.
    cv::Mat fullSizeExtremes(const cv::Rect& picture);
    // The share of each pixel of drawnPreview(frame) that the rotated picture covers;
    // empty without a rotation.
    cv::Mat previewCoverage(const PreviewFrame& frame) const;
    // The share of each pixel of the picture drawn from an image of `imageSize` holding
    // the source of `sourceSize` that the rotated picture covers; empty without a rotation.
    cv::Mat coverage(const cv::Size& imageSize, const cv::Size& sourceSize) const;
    // False when cancelled. preview: the input is a preview stage; scale: of the input
    // against the full-size picture; coverage: of the input's pixels (coverage()).
    bool toneMap(const cv::Mat& cropped, cv::Mat& toneMapped, bool preview, double scale, const cv::Mat& coverage);
    bool toneMappingRuns() const;
    cv::Mat blend(const cv::Mat& toneMapped, const cv::Mat& cropped) const;
    // scale: of the image against the full-size source; the blur's reach follows it.
    cv::Mat sharpen(const cv::Mat& blended, double scale) const;
    static float sharpeningWhite(float exposure);
    cv::Mat colour(const cv::Mat& sharpened, const cv::Mat& cropped) const;
    // `working`: 3-channel float, holding `fullSize` (the full-size source) at its own scale.
    cv::Mat renderImage(const cv::Mat& working, const cv::Mat& fullSize);

    struct PreviewFrame {
        cv::Size box;
        // 1.5 for interactive tone mapping: the picture 1.5 times smaller each side.
        double reduction;
        // The preview source's size: the source at the scale that fits the turned picture
        // into the box.
        cv::Size fitted;
        // The picture is larger than the box: the preview source is reduced to `fitted`.
        bool reduced;
    };
    // The first stage a preview render from startStage redoes; -1 for none.
    int firstStageToRender(int startStage) const;
    PreviewFrame previewFrame(bool interactive) const;
    // Of the cropped stage against the full-size picture it shows.
    double previewScale() const;
    // The source's size at which the full-size picture `shown` fits the frame's box.
    cv::Size sourceFitting(const cv::Size& shown, const PreviewFrame& frame) const;
    void updatePreviewSource(const PreviewFrame& frame);
    // A rotated or cropped preview is drawn from the source reduced by a whole factor:
    // a large photo's drawing then costs a fraction of the full-size one's.
    void updateDrawingSource(const PreviewFrame& frame);
    // False when cancelled.
    bool renderStage(int stage, const PreviewFrame& frame);

    cv::Mat initialSource_;
    cv::Mat source_;
    SourceKind sourceKind_ = SourceKind::Unknown;
    // The source's samples may be in linear light: float ones (light images, HDR
    // files); photos and frames are gamma-encoded.
    bool sourceMayBeLinear_ = false;
    cv::Mat previewSource_;
    cv::Mat drawingSource_;
    // previewSource_ was reduced from drawingSource_, not from the source itself.
    bool previewSourceDrawn_ = false;
    // A new source came since drawingSource_ was made.
    bool drawingSourceStale_ = true;
    // The preview box and reduction the stages from the rotation on were drawn for.
    cv::Size renderedBox_;
    double renderedReduction_ = 0.0;
    cv::Mat rotated_;
    cv::Mat cropped_;
    // The display scale that brought cropped_ to the display range.
    double croppedScale_ = 1.0;
    // shownScale's last measure, and the source (held, so its pixels stay its own),
    // rotation and crop it was taken for.
    struct MeasuredScale {
        cv::Mat of;
        float rotation = 0.f;
        cv::Rect crop;
        double scale = 1.0;
    };
    MeasuredScale measuredScale_;
    // fullSizeExtremes() in the source's units, and the cropped stage (held, so its
    // pixels stay its own) and the frame in it they were found for.
    cv::Mat extremes_;
    cv::Mat extremesOf_;
    cv::Rect extremesIn_;
    cv::Mat croppedCoverage_;
    cv::Mat toneMapped_;
    cv::Mat sharpened_;
    cv::Mat clipped_;
    cv::Mat finished_;
    cv::Mat output_;
    // The preview's tone-mapping input, cropped_ with its partly covered pixels black,
    // and the cropped stage it was made from (held, so its pixels stay its own).
    cv::Mat inside_;
    cv::Mat insideOf_;
    bool sourceChanged_ = false;
    bool operatorChanged_ = false;
    // First preview stage that does not reflect the settings: left unfinished by a
    // cancelled render, or fed by a setting changed without a render.
    int staleStage_ = 0;

    // The tone curve's settings are read from it once, by the constructor.
    EditingSettings settings_;
    float rotation_ = 0.f;
    cv::Rect crop_{-1, -1, -1, -1};
    int fullWidth_ = 0;
    int fullHeight_ = 0;
    Spline curve_;
    std::atomic<const char*> stepName_{""};
    std::unique_ptr<ToneMappingBase> toneMapper_;
};
