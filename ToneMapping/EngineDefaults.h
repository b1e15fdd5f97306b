#pragma once
#include "ToneMapperFactory.h"

#include <opencv2/core.hpp>

// The editing settings of one picture, in the engine's units: what a render
// pipeline renders with, and (engineDefaults) what every new one starts from.
struct EngineDefaults {
    bool applyTM = true;
    int TMalgo = 0;
    float params[5][3] = {
        {1.0f, 0.0f, -1.0f}, {0.85f, -1.0f, -1.0f}, {0.1f, 7.0f, 0.5f}, {-1.0f, -1.0f, -1.0f}, {0.7f, 1.0f, 20000.0f}};
    float blackClip = 0.f;
    float whiteClip = 0.f;
    float strength = 0.5f;
    float exposure = 0.f;
    float contrast = 1.f;
    float hue = 0.f;
    float saturation = 1.f;
    float vibrance = 0.f;
    float whites = 0.f;
    float blacks = 0.f;
    float highlights = 0.f;
    float shadows = 0.f;
    bool applySharpening = true;
    float sharpeningAmount = 0.1f;
    int sharpeningRadius = 3;
    float sharpeningThreshold = 0.f;
};

using EditingSettings = EngineDefaults;

// Where an operator parameter lives in params: its operator's index and its place there.
struct OperatorParameter {
    int toneMapper;
    int slot;
};

// The parameters the operators take; the sliders-only operator takes none.
inline constexpr OperatorParameter kTM1Alpha{LaplacianIndex, 0};
inline constexpr OperatorParameter kTM1Beta{LaplacianIndex, 1};
inline constexpr OperatorParameter kTM2Alpha{LogMappingIndex, 0};
inline constexpr OperatorParameter kTM3Alpha{LayerProcessingIndex, 0};
inline constexpr OperatorParameter kTM3Beta{LayerProcessingIndex, 1};
inline constexpr OperatorParameter kTM3Gamma{LayerProcessingIndex, 2};
inline constexpr OperatorParameter kTM4Alpha{LC_ModelIndex, 0};
inline constexpr OperatorParameter kTM4Beta{LC_ModelIndex, 1};
inline constexpr OperatorParameter kTM4Gamma{LC_ModelIndex, 2};

// How many parameters the operator of the index takes, from its first slot on.
constexpr int operatorParameterCount(int toneMapper)
{
    int count = 0;
    for (const OperatorParameter& p :
         {kTM1Alpha, kTM1Beta, kTM2Alpha, kTM3Alpha, kTM3Beta, kTM3Gamma, kTM4Alpha, kTM4Beta, kTM4Gamma})
        count += p.toneMapper == toneMapper ? 1 : 0;
    return count;
}

// The main window fills it from its widgets once at start-up, before making pipelines.
extern EngineDefaults engineDefaults;

// Process-wide sizes shared by all pipelines, safe to read from render threads.
// The preview box starts at 108 x 192 and follows the main view; the thumbnail
// size (preset previews) starts at 108 x 192.
cv::Size previewBox();
void setPreviewBox(const cv::Size& box);
// Sets the box to `size` only while it is 0 x 0.
void adoptPreviewBoxIfUnset(const cv::Size& size);
cv::Size thumbnailSize();
void setThumbnailSize(const cv::Size& size);
