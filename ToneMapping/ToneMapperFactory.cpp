#include "ToneMapperFactory.h"

#include "LC_Model.h"
#include "Laplacian.h"
#include "LayerProcessing.h"
#include "LogMapping.h"
#include "SlidersTM.h"

#include <atomic>

namespace {

std::unique_ptr<ToneMappingBase> makeBuiltInToneMapper(int index)
{
    switch (index) {
    case LaplacianIndex:
        return std::make_unique<Laplacian>();
    case LogMappingIndex:
        return std::make_unique<LogMapping>();
    case LC_ModelIndex:
        return std::make_unique<LC_Model>();
    case SlidersTMIndex:
        return std::make_unique<SlidersTM>();
    case LayerProcessingIndex:
        return std::make_unique<LayerProcessing>();
    default:
        return nullptr;
    }
}

std::atomic<ToneMapperMaker> toneMapperMaker{&makeBuiltInToneMapper};

}  // namespace

std::unique_ptr<ToneMappingBase> makeToneMapper(int index)
{
    return toneMapperMaker.load()(index);
}

void setToneMapperMakerHook(ToneMapperMaker maker)
{
    toneMapperMaker = maker ? maker : &makeBuiltInToneMapper;
}
