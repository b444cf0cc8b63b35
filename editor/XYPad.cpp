#include "editor/XYPad.h"

XYPad::XYPad (const std::vector<BandParameters>& b)
    : bands (b)
{}
