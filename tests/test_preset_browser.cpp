// The preset browser: listing and naming the bundle's presets, the step buttons, the PRESETS menu
// with its result handler and its 500 ms close grace, and editors that close under an open menu.

#include "editor/PluginEditor.h"
#include "engine/plugin/PluginBundle.h"
#include "support/EditorSupport.h"
#include "support/TestSupport.h"
#include "tools/host/XErrors.h"

#include <gtest/gtest.h>

namespace
{
const auto* display = ::testing::AddGlobalTestEnvironment (new test::DisplayRequired());

// Delivers the messages posted so far (clicks, menu results) and returns at once: an open menu
// left alone under Xvfb, where no window has the input focus, closes itself on its next timer tick.
void pump()
{
    bool delivered = false;
    juce::MessageManager::callAsync ([&delivered] { delivered = true; });
    while (! delivered)
        test::pumpMessages (1);
}

// Lets the menu's 500 ms grace time run out.
void waitPastGrace() { test::pumpMessages (600); }

// A click as the mouse gives it: posted, then toggling the button (PRESETS) before its handler.
void click (juce::Button& button)
{
    button.triggerClick();
    pump();
}

// Clicks "<" and ">" as the keys say; the PRESETS captions after each click.
juce::String steps (PresetBrowser& b, const char* keys)
{
    juce::StringArray captions;
    for (auto* key = keys; *key != 0; ++key)
    {
        click (b.getStepButton (*key == '<' ? -1 : 1));
        captions.add (b.getPresetButton().getButtonText());
    }
    return captions.joinIntoString ("|");
}

class PresetBrowserTest : public ::testing::Test
{
protected:
    // In this test program the bundle locator names the program's own folder, so its presets
    // folder is made here, as a plug-in bundle would hold it.
    void SetUp() override
    {
        hostkit::tolerateXErrors();
        contents.deleteRecursively();
        ASSERT_TRUE (folder.createDirectory());
        ASSERT_EQ (folder.getParentDirectory().getParentDirectory(), contents);
    }

    // No wait for a menu's delayed clear: the browser takes it along, so none outlives the message
    // loop (the leak check of the address-sanitizer build would report one).
    void TearDown() override
    {
        editor.reset();
        pump();
        contents.deleteRecursively();
    }

    // A preset that sets only "Compress", to its own value, so a load shows which file it read.
    juce::File preset (const juce::String& path, float compress)
    {
        juce::ValueTree tree ("Parameters"), param ("PARAM");
        param.setProperty ("id", "Compress", nullptr).setProperty ("value", compress, nullptr);
        tree.appendChild (param, nullptr);
        const auto file = folder.getChildFile (path);
        file.getParentDirectory().createDirectory();
        juce::FileOutputStream stream (file);
        stream.truncate();
        tree.writeToStream (stream);
        return file;
    }

    // The browser of a new editor, as when the host opens the window again.
    PresetBrowser& open()
    {
        editor.reset();
        editor = test::openEditor (processor);
        return editor->getPresetBrowser();
    }

    float compress() { return test::getParameter (processor, "Compress"); }

    // One modal menu window: the open PRESETS menu.
    static juce::Component* openMenu() { return juce::Component::getCurrentlyModalComponent(); }

    // The menu open or closed, PRESETS on or off, and "+" while the top-level menu holds its items
    // (open, or closed less than 500 ms ago).
    static juce::String menuState (PresetBrowser& b)
    {
        return juce::String (openMenu() != nullptr ? "open" : "closed")
               + (b.getPresetButton().getToggleState() ? " on" : " off") + (b.getMenu().getNumItems() > 0 ? " +" : "");
    }

    // The menu's top level ("#" before a header, "-" after a disabled entry) and, after a space, its
    // items as category:id=name.
    static juce::String menuItems (PresetBrowser& b)
    {
        juce::StringArray top, items;
        for (juce::PopupMenu::MenuItemIterator it (b.getMenu()); it.next();)
        {
            auto& item = it.getItem();
            top.add (item.isSectionHeader ? "#" + item.text : item.text + (item.isEnabled ? "" : "-"));
            if (item.subMenu != nullptr)
                for (juce::PopupMenu::MenuItemIterator sub (*item.subMenu); sub.next();)
                    items.add (item.text + ":" + juce::String (sub.getItem().itemID) + "=" + sub.getItem().text);
        }
        return top.joinIntoString ("|") + " " + items.joinIntoString ("|");
    }

    // Picks an item of the open menu as a mouse-up on it would, and lets the result arrive.
    void choose (int itemId)
    {
        ASSERT_NE (openMenu(), nullptr);
        openMenu()->exitModalState (itemId);
        pump();
    }

    juce::ScopedJuceInitialiser_GUI gui;
    MorvikAudioProcessor processor;
    juce::File folder = PluginBundle::currentPresetFolder (processor);
    juce::File contents = PluginBundle::currentBundleFolder (processor).getChildFile ("Contents");
    std::unique_ptr<MorvikAudioProcessorEditor> editor;
};

//==============================================================================
TEST_F (PresetBrowserTest, ListsMatchingEntriesOfOneFolderInCaseBlindOrder)
{
    EXPECT_TRUE (PresetBrowser::listPresetFolder (folder.getChildFile ("absent")).isEmpty());
    EXPECT_TRUE (PresetBrowser::listPresetFolder ({}).isEmpty());
    EXPECT_TRUE (PresetBrowser::listPresetFolder (folder).isEmpty());

    for (auto* name : { "1_Dark.mrv", "1_bright.mrv", "0_Solo.mrv", "7_Lead.mrv", ".0_Hidden.mrv", "2_Notes.txt" })
        preset (name, 1);
    preset ("sub/0_Deep.mrv", 2);
    folder.getChildFile ("3_Folder.mrv").createDirectory();
    folder.getChildFile (".4_HiddenFolder.mrv").createDirectory();
    ASSERT_TRUE (preset ("../../5_Target", 3).createSymbolicLink (folder.getChildFile ("5_Link.mrv"), true));

    juce::StringArray names;
    for (auto& file : PresetBrowser::listPresetFolder (folder))
        names.add (file.getRelativePathFrom (folder));
    EXPECT_EQ (names.joinIntoString ("|"), "0_Solo.mrv|1_bright.mrv|1_Dark.mrv|3_Folder.mrv|5_Link.mrv|7_Lead.mrv");

    // Names from the third character; the second is never looked at.
    EXPECT_EQ (PresetBrowser::presetDisplayName (folder.getChildFile ("2.mrv")), "");
    EXPECT_EQ (PresetBrowser::presetDisplayName (folder.getChildFile ("4-Sub.Bass.mrv")), "Sub.Bass");
}

TEST_F (PresetBrowserTest, StepButtonsWrapAndShareTheIndex)
{
    auto& e = open();
    const float initial = compress();

    // No presets: nothing loads, nothing is said, the caption stays.
    contents.deleteRecursively();
    testing::internal::CaptureStdout();
    EXPECT_EQ (steps (e, "><"), "PRESETS|PRESETS");
    EXPECT_EQ (testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ (e.getCurrentPresetIndex(), 0);
    EXPECT_EQ (compress(), initial);

    // One preset: every step loads it again.
    preset ("3_Only.mrv", 11);
    test::setParameter (processor, "Compress", 0);
    EXPECT_EQ (steps (e, ">"), "Only");
    test::setParameter (processor, "Compress", 0);
    EXPECT_EQ (steps (e, "<"), "Only");
    EXPECT_FLOAT_EQ (compress(), 11);
    EXPECT_EQ (e.getCurrentPresetIndex(), 1);

    // The steps list only while they have no list; a new editor starts afresh, "<" from the end.
    preset ("1_Vox.mrv", 12);
    preset ("7_Lead.mrv", 13);
    EXPECT_EQ (steps (e, ">"), "Only");
    auto& reopened = open();
    EXPECT_EQ (steps (reopened, "<>>>><<"), "Lead|Vox|Only|Lead|Vox|Lead|Only");
    EXPECT_EQ (reopened.getCurrentPresetIndex(), 2);
    EXPECT_FLOAT_EQ (compress(), 11);

    // The menu relists a shorter list while the index stays beyond its end: "<" goes to the last.
    EXPECT_EQ (steps (reopened, ">"), "Lead");
    folder.getChildFile ("7_Lead.mrv").deleteFile();
    folder.getChildFile ("3_Only.mrv").deleteFile();
    click (reopened.getPresetButton());
    juce::PopupMenu::dismissAllActiveMenus();
    pump();
    EXPECT_EQ (steps (reopened, "<"), "Vox");
}

TEST_F (PresetBrowserTest, EntriesThatCannotBeLoadedStillMoveIndexAndCaption)
{
    preset ("0_Good.mrv", 21);
    folder.getChildFile ("1_Folder.mrv").createDirectory();
    folder.getChildFile ("2_Damaged.mrv").replaceWithText ("not a preset");
    const auto removed = preset ("3_Removed.mrv", 22);
    preset ("4_Bass.mrv", 23);

    auto& e = open();
    EXPECT_EQ (steps (e, ">"), "Good");
    removed.deleteFile();

    // Each is tried (and refused, as the loader refuses such files) and still named.
    testing::internal::CaptureStdout();
    EXPECT_EQ (steps (e, ">>>"), "Folder|Damaged|Removed");
    EXPECT_EQ (testing::internal::GetCapturedStdout(), "LOAD PRESET ERROR\nLOAD PRESET ERROR\nLOAD PRESET ERROR\n");
    EXPECT_FLOAT_EQ (compress(), 21);
    EXPECT_EQ (e.getCurrentPresetIndex(), 4);
    EXPECT_EQ (steps (e, ">"), "Bass");
    EXPECT_FLOAT_EQ (compress(), 23);
}

TEST_F (PresetBrowserTest, MenuShowsCategoriesWithListPositionsAsIds)
{
    // In list order: #_Odd 0_Solo 1_bright 1_Dark 1_Late 2_ 7_Lead; the first and last are not shown.
    int value = 0;
    for (auto* name : { "#_Odd.mrv", "0_Solo.mrv", "1_bright.mrv", "1_Dark.mrv", "1_Late.mrv", "2_.mrv", "7_Lead.mrv" })
        preset (name, (float) ++value);

    auto& e = open();
    editor->setSize (900, 530);
    const int children = e.getNumChildComponents();
    click (e.getPresetButton());
    ASSERT_EQ (menuState (e), "open on +");
    EXPECT_EQ (menuItems (e), "#FACTORY|Bus|Vocal|Drum|Guitar-|Bass-|Synth-|#Version: 1.0.1 "
                              "Bus:2=Solo|Vocal:3=bright|Vocal:4=Dark|Vocal:5=Late|Drum:6=");

    // The window: at least as wide as PRESETS, its six category entries 530 x 0.045 = 23.85 -> 23
    // pixels high. The stand-in it opened on is gone again.
    auto* window = openMenu();
    EXPECT_GE (window->getWidth(), e.getPresetButton().getWidth());
    ASSERT_EQ (window->getNumChildComponents(), 8);
    for (int i = 1; i <= 6; ++i)
        EXPECT_EQ (window->getChildComponent (i)->getHeight(), 23) << i;
    EXPECT_EQ (e.getNumChildComponents(), children);

    // Choosing id 6 loads the sixth file and names it; ">" continues from there, "<" goes back.
    choose (6);
    EXPECT_EQ (menuState (e), "closed off +");
    EXPECT_EQ (e.getCurrentPresetIndex(), 6);
    EXPECT_FLOAT_EQ (compress(), 6);
    EXPECT_EQ (e.getPresetButton().getButtonText(), "");
    EXPECT_EQ (steps (e, ">><"), "Lead|Odd|Lead");
}

TEST_F (PresetBrowserTest, ClicksWhileOpenOrJustClosedOnlyClose)
{
    preset ("0_A.mrv", 31);
    preset ("0_B.mrv", 32);
    auto& e = open();
    click (e.getPresetButton());
    EXPECT_EQ (menuState (e), "open on +");

    // Dismissed (Escape, a click elsewhere): nothing loads; the category menus empty at once, the
    // top level only after the grace time, and a PRESETS click in that time only closes.
    testing::internal::CaptureStdout();
    juce::PopupMenu::dismissAllActiveMenus();
    pump();
    EXPECT_EQ (testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ (menuState (e), "closed off +");
    click (e.getPresetButton());
    EXPECT_EQ (menuState (e), "closed off");
    click (e.getPresetButton());
    EXPECT_EQ (menuState (e), "open on +");

    // A click on PRESETS while the menu is open: its mouse-down closes the menu, then the click
    // finds the menu filled and only closes, whether the menu's result arrives before the click
    // (first) or after it (second, the click handled at once).
    juce::PopupMenu::dismissAllActiveMenus();
    click (e.getPresetButton());
    EXPECT_EQ (menuState (e), "closed off");
    click (e.getPresetButton());
    juce::PopupMenu::dismissAllActiveMenus();
    e.getPresetButton().setToggleState (false, juce::dontSendNotification);
    e.getPresetButton().onClick();
    pump();
    EXPECT_EQ (menuState (e), "closed off");
    EXPECT_EQ (e.getCurrentPresetIndex(), 0);
    EXPECT_EQ (e.getPresetButton().getButtonText(), "PRESETS");

    // After a choice the menu empties when the grace time runs out; the next click opens it, with
    // each preset listed once however often the menu opened before.
    click (e.getPresetButton());
    choose (2);
    EXPECT_EQ (compress(), 32);
    EXPECT_EQ (menuState (e), "closed off +");
    waitPastGrace();
    EXPECT_EQ (menuState (e), "closed off");
    click (e.getPresetButton());
    EXPECT_EQ (menuState (e), "open on +");
    EXPECT_TRUE (menuItems (e).endsWith (" Bus:1=A|Bus:2=B"));
}

TEST_F (PresetBrowserTest, ResultsAndDelayedClearsAfterTheEditorClosedDoNothing)
{
    preset ("0_A.mrv", 41);

    // Closed with the menu open: the menu closes, and its result arrives after the browser is gone.
    click (open().getPresetButton());
    ASSERT_NE (openMenu(), nullptr);
    editor.reset();
    pump();
    EXPECT_EQ (openMenu(), nullptr);

    // Closed between the choice and the delayed clear.
    click (open().getPresetButton());
    choose (1);
    EXPECT_FLOAT_EQ (compress(), 41);
    editor.reset();
    waitPastGrace();
}

// The build's factory presets in a bundle: ">" loads the first and names it, "<" wraps to the last.
TEST_F (PresetBrowserTest, FactoryPresetsStepInNameOrder)
{
    const juce::File built (MORVIK_PRESET_BUILD_DIR);
    ASSERT_TRUE (built.copyDirectoryTo (folder));
    auto& e = open();

    EXPECT_EQ (steps (e, ">"), "Gentle Glue");
    EXPECT_FLOAT_EQ (compress(), 16.0f);
    EXPECT_EQ (steps (e, "<"), "Pump");
    EXPECT_EQ (e.getCurrentPresetIndex(), built.getNumberOfChildFiles (juce::File::findFiles, "*.mrv"));
}
} // namespace

// The menu window belongs to no component: it must keep this editor's look, even after another
// editor has opened and closed.
TEST_F (PresetBrowserTest, MenuKeepsTheEditorsLookAfterAnotherEditorCloses)
{
    preset ("1_A.mrv", 1.0f);
    auto& e = open();
    editor->setSize (900, 530);
    MorvikAudioProcessor otherProcessor;
    test::openEditor (otherProcessor).reset();

    click (e.getPresetButton());
    ASSERT_NE (openMenu(), nullptr);
    EXPECT_EQ (&openMenu()->getLookAndFeel(), &editor->getLookAndFeel());
    choose (0);
}
