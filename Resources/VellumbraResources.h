#pragma once

// Registers the embedded pictures (":/Vellumbra/Resources/...") of this static
// library; safe to call more than once.
void loadVellumbraResources();
