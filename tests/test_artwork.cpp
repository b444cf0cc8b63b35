// The artwork maker draws the editor's images from the typeface alone; what it draws must be what is
// committed, so the images can be made again at any time.

#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

TEST (LookArtwork, MakerRedrawsTheCommittedImagesByteForByte)
{
    juce::ScopedJuceInitialiser_GUI gui;
    struct Folder
    {
        juce::File file = juce::File::createTempFile ("artwork");
        ~Folder() { file.deleteRecursively(); }
    } made, none;
    const auto runMaker = [] (const juce::File& folder, const juce::String& font) {
        juce::ChildProcess maker;
        EXPECT_TRUE (maker.start (
            juce::StringArray { MORVIK_BUILD_DIR "/bin/morvik_make_artwork", folder.getFullPathName(), font }));
        maker.waitForProcessToFinish (60000);
        return maker.getExitCode();
    };
    ASSERT_EQ (runMaker (made.file, MORVIK_BUILD_DIR "/resources/manrope_medium.ttf"), 0u);

    const std::tuple<const char*, int, int> images[] = {
        { "knob.png", 300, 300 },          { "knob_hover.png", 300, 300 }, { "slider_thumb.png", 200, 200 },
        { "pill_off.png", 400, 200 },      { "pill_on.png", 400, 200 },    { "square_off.png", 200, 200 },
        { "square_on.png", 200, 200 },     { "wide_off.png", 400, 200 },   { "wide_on.png", 400, 200 },
        { "power_off.png", 100, 100 },     { "power_on.png", 100, 100 },   { "logo.png", 1200, 276 },
        { "panel_texture.jpg", 200, 200 },
    };
    EXPECT_EQ (made.file.getNumberOfChildFiles (juce::File::findFiles), (int) std::size (images));
    for (const auto& [name, w, h] : images)
    {
        SCOPED_TRACE (name);
        juce::MemoryBlock drawn, committed;
        ASSERT_TRUE (made.file.getChildFile (name).loadFileAsData (drawn));
        ASSERT_TRUE (juce::File (MORVIK_SOURCE_DIR "/resources/images").getChildFile (name).loadFileAsData (committed));
        EXPECT_TRUE (drawn == committed) << "run the artwork maker again and commit resources/images";

        // Skins and logo lie on a transparent ground; only the tiled texture is opaque.
        const auto image = juce::ImageFileFormat::loadFrom (drawn.getData(), drawn.getSize());
        const auto png = juce::String (name).endsWith (".png");
        EXPECT_EQ (image.getBounds(), juce::Rectangle<int> (w, h));
        EXPECT_EQ (image.hasAlphaChannel(), png);
        EXPECT_EQ (image.getPixelAt (0, 0).getAlpha(), png ? 0 : 255);
    }

    // Without a usable typeface the maker writes nothing and says so.
    EXPECT_NE (runMaker (none.file, MORVIK_SOURCE_DIR "/README.md"), 0u);
    EXPECT_FALSE (none.file.exists());
}
