#pragma once
#include "ToneMappingBase.h"

#include <memory>

// Operator indices of the render pipeline.
enum ToneMapperIndex {
    LaplacianIndex = 0,
    LogMappingIndex = 1,
    LC_ModelIndex = 2,
    SlidersTMIndex = 3,
    LayerProcessingIndex = 4,
};

// A fresh operator of the index with its construction values; null for an index
// without an operator.
std::unique_ptr<ToneMappingBase> makeToneMapper(int index);

// Operator construction goes through this hook so tests can substitute an operator.
using ToneMapperMaker = std::unique_ptr<ToneMappingBase> (*)(int index);
// nullptr restores the built-in operators.
void setToneMapperMakerHook(ToneMapperMaker maker);
