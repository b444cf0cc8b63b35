#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <vector>

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
// The editor's look-and-feel. It is set on the editor and on the menus the editor opens, and never
// made the process-wide default: in the Standalone the application's own window shares the process,
// and its buttons, menus and dialogs keep the framework's look. So every text it draws names the
// embedded typeface itself rather than the default face. Buttons, knobs and the linear slider are
// drawn from bitmaps (shared through juce::ImageCache, so a reopened editor decodes nothing), each
// scaled once to the size it is shown at; menus, combo boxes and labels use the embedded typeface.
class Look : public juce::LookAndFeel_V4
{
public:
    Look();
    ~Look() override;

    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour& backgroundColour,
                               bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;
    void drawButtonText (juce::Graphics&, juce::TextButton&, bool shouldDrawButtonAsHighlighted,
                         bool shouldDrawButtonAsDown) override;
    void drawPopupMenuBackground (juce::Graphics&, int width, int height) override;
    void drawPopupMenuItem (juce::Graphics&, const juce::Rectangle<int>& area, bool isSeparator, bool isActive,
                            bool isHighlighted, bool isTicked, bool hasSubMenu, const juce::String& text,
                            const juce::String& shortcutKeyText, const juce::Drawable* icon,
                            const juce::Colour* textColour) override;
    void drawPopupMenuSectionHeader (juce::Graphics&, const juce::Rectangle<int>& area,
                                     const juce::String& sectionName) override;
    void drawComboBox (juce::Graphics&, int width, int height, bool isButtonDown, int buttonX, int buttonY, int buttonW,
                       int buttonH, juce::ComboBox&) override;
    juce::Font getLabelFont (juce::Label&) override;
    void drawLinearSlider (juce::Graphics&, int x, int y, int width, int height, float sliderPos, float minSliderPos,
                           float maxSliderPos, juce::Slider::SliderStyle, juce::Slider&) override;
    void drawRotarySlider (juce::Graphics&, int x, int y, int width, int height, float sliderPosProportional,
                           float rotaryStartAngle, float rotaryEndAngle, juce::Slider&) override;
    juce::Label* createSliderTextBox (juce::Slider&) override;
    juce::Font getPopupMenuFont() override;
    void drawImageButton (juce::Graphics&, juce::Image*, int imageX, int imageY, int imageW, int imageH,
                          const juce::Colour& overlayColour, float imageOpacity, juce::ImageButton&) override;

    // A typeface from TrueType data, or null when the data holds no usable face (the caller then
    // keeps the framework's default face).
    static juce::Typeface::Ptr createTypeface (const void* data, size_t size);

    juce::Image sliderThumb; // the linear slider's thumb
    juce::Image knob; // the rotary slider's body
    juce::Image knobHover; // rings drawn over a hovered knob
    juce::Image pillOff, pillOn; // buttons of about 2:1
    juce::Image squareOff, squareOn; // square buttons
    juce::Image wideOff, wideOn; // every other width, drawn in three slices

    // The label font height; the editor's layout sets it from the window width.
    float labelFontHeight = 16.0f;

    // A plain font of the embedded typeface (the framework's default face when there is none).
    juce::Font font (float height) const;

    // The image at a size in device pixels, made by resampled() once and kept while it is in use:
    // the framework's own image drawing interpolates between four neighbouring pixels only, so a
    // bitmap shown at less than half its size would lose thin lines between its samples.
    juce::Image sized (const juce::Image& image, int width, int height);

    // The image at a new size: each pixel the average of the source area it covers when shrinking,
    // linear interpolation between the nearest pixels when growing. Always ARGB.
    static juce::Image resampled (const juce::Image& image, int width, int height);

    struct SizedImage
    {
        juce::Image source, image;
        juce::uint64 lastUse;
    };
    // The sized images kept, at most maxSizedImages; the least recently used goes first.
    std::vector<SizedImage> sizedImages;
    static constexpr size_t maxSizedImages = 40;

private:
    void drawButtonSkin (juce::Graphics&, const juce::Button&, bool threeSlice);
    static void drawHoverOverlay (juce::Graphics&, const juce::Component&);

    juce::Typeface::Ptr typeface;
    juce::uint64 useCount = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Look)
};
