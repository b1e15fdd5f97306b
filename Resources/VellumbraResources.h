#pragma once

// Registers the embedded style sheet and pictures (":/Vellumbra/Resources/..." and
// ":/vellumbraV2/Resources/...") of this static library; safe to call more than once.
void loadVellumbraResources();
