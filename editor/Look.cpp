#include "editor/Look.h"

Look::Look() { juce::LookAndFeel::setDefaultLookAndFeel (this); }

Look::~Look() = default;
