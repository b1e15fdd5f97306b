#include "ToneMapperFactory.h"

#include "SlidersTM.h"

std::unique_ptr<ToneMappingBase> makeToneMapper(int index)
{
    switch (index) {
    case SlidersTMIndex:
        return std::make_unique<SlidersTM>();
    default:
        return nullptr;
    }
}
