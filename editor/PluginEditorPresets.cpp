// The factory preset browser: the PRESETS menu and the "<" and ">" step buttons.
//
// Presets are the *.mrv entries of the bundle's Contents/Resources/Presets folder, listed in name
// order. The first character of a name picks the menu category ("0" Bus to "5" Synth); a name that
// starts with anything else is left out of the menu but still counts for the item ids and is
// reached by the step buttons. The shown name starts at the third character.

#include "editor/PluginEditor.h"
#include "engine/PluginBundle.h"
#include "engine/PluginProcessor.h"

namespace
{
const char* const categoryNames[] = { "Bus", "Vocal", "Drum", "Guitar", "Bass", "Synth" };

// The top-level menu keeps its items this long after it closed; a PRESETS click in that time only
// closes. A mouse-down outside the open menu closes it and then reaches the component under the
// mouse, so without this the click on PRESETS that closes the menu would open it again at once.
constexpr int menuCloseGraceMs = 500;

// Calls its function once, a while after it was last started. Its owner deletes it, so unlike the
// framework's callAfterDelay nothing is left behind when the framework shuts down before it fires.
class DelayedCall final : public juce::Timer
{
public:
    explicit DelayedCall (std::function<void()> f)
        : function (std::move (f))
    {}

private:
    void timerCallback() override
    {
        stopTimer();
        function();
    }

    std::function<void()> function;
};

// The category sub-menu of a preset, or -1 for a preset that the menu does not show.
int categoryOf (const juce::File& preset)
{
    const auto first = preset.getFileNameWithoutExtension()[0];
    return first >= '0' && first <= '5' ? (int) (first - '0') : -1;
}
} // namespace

juce::Array<juce::File> MorvikAudioProcessorEditor::listPresetFolder (const juce::File& presetFolder)
{
    juce::Array<juce::File> files;

    // No folder (or no bundle found at all, an empty file): no presets.
    if (! presetFolder.isDirectory())
        return files;

    // Folders whose names match are listed as well: loading one fails like any unreadable preset.
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

juce::String MorvikAudioProcessorEditor::presetDisplayName (const juce::File& preset)
{
    // The first two characters are the category and a separator.
    return preset.getFileNameWithoutExtension().substring (2);
}

void MorvikAudioProcessorEditor::loadPresetFiles()
{
    presetFiles.clear();
    presetFiles = listPresetFolder (PluginBundle::currentPresetFolder (audioProcessor));
}

void MorvikAudioProcessorEditor::installPresetBrowser()
{
    presetButton.onClick = [this] { presetButtonClicked(); };
    previousPresetButton.onClick = [this] { stepPreset (-1); };
    nextPresetButton.onClick = [this] { stepPreset (1); };
    presetMenuGrace = std::make_unique<DelayedCall> ([this] { presetMenu.clear(); });
}

void MorvikAudioProcessorEditor::showPresetCaption()
{
    // An index outside the list gives an empty file and so an empty caption.
    presetButton.setButtonText (presetDisplayName (presetFiles[currentPresetIndex - 1]));
}

void MorvikAudioProcessorEditor::clearPresetMenus()
{
    presetMenu.clear();

    for (auto& menu : categoryMenus)
        menu.clear();
}

void MorvikAudioProcessorEditor::presetButtonClicked()
{
    // The menu is open, or closed a moment ago: this click only closes.
    if (presetMenu.getNumItems() > 0)
    {
        presetButton.setToggleState (false, juce::dontSendNotification);
        clearPresetMenus();
        return;
    }

    const auto height = (float) getHeight();
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

    // The menu window belongs to no component, so it would take the process default look, which
    // another editor's closing can take away; it takes this editor's own (its sub-menus follow).
    presetMenu.setLookAndFeel (&look);

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

    presetMenu.showMenuAsync (options, juce::ModalCallbackFunction::create (
                                           [editor = juce::Component::SafePointer<MorvikAudioProcessorEditor> (this),
                                            files] (int result) { presetMenuClosed (editor, files, result); }));

    removeChildComponent (&target);
}

void MorvikAudioProcessorEditor::presetMenuClosed (juce::Component::SafePointer<MorvikAudioProcessorEditor> editor,
                                                   const juce::Array<juce::File>& files, int result)
{
    if (editor == nullptr)
        return;

    editor->presetMenuGrace->startTimer (menuCloseGraceMs);

    for (auto& menu : editor->categoryMenus)
        menu.clear();

    editor->presetButton.setToggleState (false, juce::dontSendNotification);

    // 0: dismissed without a choice.
    if (result < 1)
        return;

    editor->currentPresetIndex = result;
    editor->audioProcessor.loadPreset (files[result - 1]);
    editor->showPresetCaption();
}

void MorvikAudioProcessorEditor::stepPreset (int direction)
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
