#include "editor/PresetBrowser.h"
#include "editor/Look.h"
#include "engine/plugin/PluginBundle.h"
#include "engine/plugin/PluginProcessor.h"

namespace
{
const char* const categoryNames[] = { "Bus", "Vocal", "Drum", "Guitar", "Bass", "Synth" };

// The top-level menu keeps its items this long after it closed; a PRESETS click in that time only
// closes. A mouse-down outside the open menu closes it and then reaches the component under the
// mouse, so without this the click on PRESETS that closes the menu would open it again at once.
constexpr int menuCloseGraceMs = 500;

// The category sub-menu of a preset, or -1 for a preset that the menu does not show.
int categoryOf (const juce::File& preset)
{
    const auto first = preset.getFileNameWithoutExtension()[0];
    return first >= '0' && first <= '5' ? (int) (first - '0') : -1;
}
} // namespace

PresetBrowser::PresetBrowser (MorvikAudioProcessor& processor)
    : audioProcessor (processor)
{
    presetButton.setButtonText ("PRESETS");
    previousPresetButton.setButtonText ("<");
    nextPresetButton.setButtonText (">");

    for (auto* button : { &presetButton, &previousPresetButton, &nextPresetButton })
    {
        button->setColour (juce::TextButton::textColourOffId, blackUltraPelko);
        button->setColour (juce::TextButton::textColourOnId, greyWhitePelko);
        addAndMakeVisible (button);
    }

    // The click that opens the menu switches PRESETS on; the menu closing switches it off.
    presetButton.setClickingTogglesState (true);
    presetButton.onClick = [this] { presetButtonClicked(); };
    previousPresetButton.onClick = [this] { stepPreset (-1); };
    nextPresetButton.onClick = [this] { stepPreset (1); };

    // Between and around the buttons the window underneath takes the mouse, as it would without
    // the browser.
    setInterceptsMouseClicks (false, true);
}

PresetBrowser::~PresetBrowser() = default;

void PresetBrowser::setButtonBounds (juce::Rectangle<int> presets, juce::Rectangle<int> previous,
                                     juce::Rectangle<int> next)
{
    const auto area = presets.getUnion (previous).getUnion (next);
    setBounds (area);
    presetButton.setBounds (presets - area.getPosition());
    previousPresetButton.setBounds (previous - area.getPosition());
    nextPresetButton.setBounds (next - area.getPosition());
}

juce::Array<juce::File> PresetBrowser::listPresetFolder (const juce::File& presetFolder)
{
    juce::Array<juce::File> files;

    // No folder (or no bundle found at all, an empty file): no presets.
    if (! presetFolder.isDirectory())
        return files;

    // Folders and other entries that are no regular file (a FIFO, a link to a device) are listed as
    // well, and loading one fails like any unreadable preset. The listing only looks up each entry's
    // type and never opens it, so such an entry cannot hold it up.
    for (const auto& entry : juce::RangedDirectoryIterator (
             presetFolder, false, "*.mrv", juce::File::findFilesAndDirectories | juce::File::ignoreHiddenFiles,
             juce::File::FollowSymlinks::yes))
        files.add (entry.getFile());

    // Letter case does not count in the order; File's own ordering counts it on Linux. Names that
    // differ only in case keep a fixed order between them.
    std::sort (files.begin(), files.end(), [] (const juce::File& a, const juce::File& b) {
        const auto& pathA = a.getFullPathName();
        const auto& pathB = b.getFullPathName();
        const auto order = pathA.compareIgnoreCase (pathB);
        return order != 0 ? order < 0 : pathA.compare (pathB) < 0;
    });

    return files;
}

juce::String PresetBrowser::presetDisplayName (const juce::File& preset)
{
    // The first two characters are the category and a separator.
    return preset.getFileNameWithoutExtension().substring (2);
}

void PresetBrowser::loadPresetFiles()
{
    presetFiles.clear();
    presetFiles = listPresetFolder (PluginBundle::currentPresetFolder (audioProcessor));
}

void PresetBrowser::showPresetCaption()
{
    // An index outside the list gives an empty file and so an empty caption.
    presetButton.setButtonText (presetDisplayName (presetFiles[currentPresetIndex - 1]));
}

void PresetBrowser::clearPresetMenus()
{
    presetMenu.clear();

    for (auto& menu : categoryMenus)
        menu.clear();
}

void PresetBrowser::presetButtonClicked()
{
    // The menu is open, or closed a moment ago: this click only closes.
    if (presetMenu.getNumItems() > 0)
    {
        presetButton.setToggleState (false, juce::dontSendNotification);
        clearPresetMenus();
        return;
    }

    const auto height = (float) getParentHeight();
    loadPresetFiles();
    const auto files = presetFiles;

    presetMenu.addSectionHeader ("FACTORY");

    // Item ids are 1-based list positions, so a preset the menu leaves out still uses up its id.
    for (int i = 0; i < files.size(); ++i)
        if (const auto category = categoryOf (files[i]); category >= 0)
            categoryMenus[(size_t) category].addItem (i + 1, presetDisplayName (files[i]), true, false);

    // An empty category shows as a disabled entry.
    for (size_t category = 0; category < categoryMenus.size(); ++category)
        presetMenu.addSubMenu (categoryNames[category], categoryMenus[category]);

    presetMenu.addSectionHeader (juce::String ("Version: ") + JucePlugin_VersionString);

    // The menu window belongs to no component, so it would take the process default look, which is
    // the framework's own; it takes the window's (its sub-menus follow).
    presetMenu.setLookAndFeel (&getLookAndFeel());

    // The menu opens over the PRESETS button's area. Its target is a stand-in that is gone when
    // this handler returns, so the open menu is attached to no component and any mouse-down
    // outside it closes it at once.
    juce::TextButton target;
    target.setBounds (presetButton.getBounds());
    addChildComponent (target);

    const auto options = juce::PopupMenu::Options()
                             .withTargetComponent (&target)
                             .withMinimumWidth (presetButton.getWidth())
                             .withMinimumNumColumns (1)
                             .withStandardItemHeight ((int) (float) ((double) height * 0.045));

    // The result may arrive after the window has closed; it then does nothing.
    presetMenu.showMenuAsync (options,
                              juce::ModalCallbackFunction::create (
                                  [browser = juce::Component::SafePointer<PresetBrowser> (this), files] (int result) {
                                      if (browser != nullptr)
                                          browser->menuClosed (files, result);
                                  }));

    removeChildComponent (&target);
}

void PresetBrowser::menuClosed (const juce::Array<juce::File>& files, int result)
{
    startTimer (menuCloseGraceMs);

    for (auto& menu : categoryMenus)
        menu.clear();

    presetButton.setToggleState (false, juce::dontSendNotification);

    // 0: dismissed without a choice.
    if (result < 1)
        return;

    currentPresetIndex = result;
    audioProcessor.loadPreset (files[result - 1]);
    showPresetCaption();
}

void PresetBrowser::timerCallback()
{
    stopTimer();
    presetMenu.clear();
}

void PresetBrowser::stepPreset (int direction)
{
    if (presetFiles.isEmpty())
        loadPresetFiles();

    const int size = presetFiles.size();

    if (size == 0)
        return;

    // currentPresetIndex is 1-based and 0 before the first load, so ">" from it lands on the
    // first preset and "<" on the last. An index beyond the end (the list was shorter when the
    // menu relisted it) steps to the last entry or wraps to the first.
    if (direction > 0)
        currentPresetIndex = currentPresetIndex >= size ? 1 : currentPresetIndex + 1;
    else
        currentPresetIndex = currentPresetIndex <= 1 ? size : juce::jmin (currentPresetIndex - 1, size);

    audioProcessor.loadPreset (presetFiles[currentPresetIndex - 1]);
    showPresetCaption();
}
