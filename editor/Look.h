#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

//==============================================================================
// The editor's colour palette: every editor file names its colours through these, so the scheme is
// defined here and nowhere else. transparentPelko doubles as a marker that turns off a button's skin
// or a knob's value frame; it is compared as an exact ARGB word.
inline const juce::Colour blueSpectre { 0xF2CC6A35 };
inline const juce::Colour blueSpectreDark { 0x26994D17 };
inline const juce::Colour purpleFlashPelko { 0xFFB67DFE };
inline const juce::Colour purplePelko { 0xFF985FE3 };
inline const juce::Colour purpleLightPelko { 0xFF7D5ACF };
inline const juce::Colour purpleCurve { 0xB2985FE4 };
inline const juce::Colour purpleCurveLight { 0x66985FE4 };
inline const juce::Colour purplepurplePelko { 0x33985FE4 };
inline const juce::Colour purpleCurveDark { 0x03985FE4 };
inline const juce::Colour purpleDarkPelko { 0xFF5A3CAA };
inline const juce::Colour purpleTransChord { 0xFF3C0A5A };
inline const juce::Colour redPelko { 0xFFE67322 };
inline const juce::Colour whitePelko { 0xFFFAFBFB };
inline const juce::Colour whiteLightPelko { 0xFFE6E7E7 };
inline const juce::Colour greyWhitePelko { 0xFFD2D3D3 };
inline const juce::Colour greyTextBoxPelko { 0xFF969798 };
inline const juce::Colour greyPelko { 0xFF646565 };
inline const juce::Colour greyPlusPelko { 0xFF5F6060 };
inline const juce::Colour backgroundPelko2 { 0xFFAAACB1 };
inline const juce::Colour backgroundPelkoL { 0xFF494A4A };
inline const juce::Colour greyDownPelko { 0xFF414242 };
inline const juce::Colour greyBlackPelko { 0xFF323333 };
inline const juce::Colour blackPelko { 0xFF282929 };
inline const juce::Colour blackUltraPelko { 0xFF191A1A };
inline const juce::Colour blackFullPelko { 0xFF050606 };
inline const juce::Colour greyOpacityPelko { 0xD91A1A1A };
inline const juce::Colour blackOpacityPelko { 0x99000000 };
inline const juce::Colour maskPelko { 0x4C000000 };
inline const juce::Colour transparentPelko { 0x00000000 };
inline const juce::Colour whitePadPelko { 0x99E6E6E6 };
inline const juce::Colour termsPelko { 0x4CE6E6E6 };
inline const juce::Colour lightPelko2 { 0x33E6E6E6 };
inline const juce::Colour maskTextBox { 0x66121213 };

//==============================================================================
// The editor's look-and-feel. Constructing it also makes it the process-wide default, so popup menus
// and anything else without a look of its own use it too.
class Look : public juce::LookAndFeel_V4
{
public:
    Look();
    ~Look() override;

    // The label font height; the editor's layout sets it from the window width.
    float labelFontHeight = 16.0f;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Look)
};
