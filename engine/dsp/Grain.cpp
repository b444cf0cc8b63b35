#include "engine/dsp/Grain.h"

// The processor runs in single precision; instantiating here keeps the chain's code in one object.
template class Grain<float>;
