#include "ToneMapperFactory.h"

#include "SlidersTM.h"

#include <atomic>

namespace {

std::unique_ptr<ToneMappingBase> makeBuiltInToneMapper(int index)
{
    switch (index) {
    case SlidersTMIndex:
        return std::make_unique<SlidersTM>();
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
