#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

class MorvikAudioProcessor;

// The factory preset browser along the top of the window: PRESETS opens a menu of the bundle's
// presets by category, "<" and ">" load the previous and the next one in name order, and PRESETS
// shows the name of the preset loaded last. A new browser (the window opened again) starts afresh.
// Message thread only.
//
// Presets are the *.mrv entries of the bundle's Contents/Resources/Presets folder. The first
// character of a name picks the menu category ("0" Bus to "5" Synth); a name that starts with
// anything else is left out of the menu but still counts for the item ids and is reached by the
// step buttons. The shown name starts at the third character.
class PresetBrowser : public juce::Component, private juce::Timer
{
public:
    explicit PresetBrowser (MorvikAudioProcessor& processor);
    ~PresetBrowser() override;

    // Places the three buttons, given in the parent's coordinates; the browser spans them.
    void setButtonBounds (juce::Rectangle<int> presets, juce::Rectangle<int> previous, juce::Rectangle<int> next);

    // The *.mrv entries of a presets folder, hidden ones left out, sorted by path ignoring case.
    static juce::Array<juce::File> listPresetFolder (const juce::File& presetFolder);
    // The name a preset shows: its file name without extension from the third character on.
    static juce::String presetDisplayName (const juce::File& preset);

    // PRESETS (which also shows the caption), "<" and ">".
    juce::TextButton& getPresetButton() noexcept { return presetButton; }
    juce::TextButton& getStepButton (int direction) noexcept
    {
        return direction > 0 ? nextPresetButton : previousPresetButton;
    }
    // The 1-based place in the list of the preset loaded last; 0 before the first load.
    int getCurrentPresetIndex() const noexcept { return currentPresetIndex; }
    // The menu as last built. It holds its items while it is open and for a moment after it closed;
    // a PRESETS click in that time only closes.
    const juce::PopupMenu& getMenu() const noexcept { return presetMenu; }

private:
    void loadPresetFiles();
    void presetButtonClicked();
    // The menu's result: files is the list the menu was built from, result the chosen item id (0
    // when dismissed).
    void menuClosed (const juce::Array<juce::File>& files, int result);
    void stepPreset (int direction); // +1 for ">", -1 for "<"
    void showPresetCaption();
    void clearPresetMenus();
    // The grace after the menu closed is over: the menu lets go of its items. A timer of the
    // browser's own, so that none is left behind when the framework shuts down before it fires.
    void timerCallback() override;

    MorvikAudioProcessor& audioProcessor;

    juce::TextButton presetButton, previousPresetButton, nextPresetButton;
    juce::PopupMenu presetMenu;
    std::array<juce::PopupMenu, 6> categoryMenus;
    juce::Array<juce::File> presetFiles;
    int currentPresetIndex = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PresetBrowser)
};
