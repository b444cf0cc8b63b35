#include "EditorCommand.h"

#include "DemoSignal.h"
#include "HostKit.h"
#include "XErrors.h"
#include "engine/dsp/ParameterIds.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <dlfcn.h>
#include <iostream>
#include <memory>
#include <thread>

namespace hostkit
{
const char* editorUsage = R"(  morvik_host editor --format vst3|lv2 --plugin <bundle> [options]
      opens the plug-in's editor in a window while audio flows through the plug-in on a thread of
      its own; prints "window <X window id>" once the editor is on screen, and on exit
      "audio <blocks processed while the editor was open>", one line
      "param <id> <normalised value> <text>" per parameter and "gesture <id> <begins> <ends>" per
      parameter: the change gestures the plug-in reported while its editor was open
      --size WxH            asks the editor for this size once it is on screen
      --seconds S           how long the window stays open (default 2; SIGTERM ends it sooner)
      --png out.png         a picture of the window taken from the X server (imagemagick's import)
      --rate R, --block N   sample rate and block size (default 48000, 512)
      --signal demo|sine|noise|file.wav   what flows through the plug-in, looped (default demo)
      --set Id=value        set a parameter before the editor opens (repeatable)
)";

namespace
{
int fail (const juce::String& message)
{
    std::cerr << "morvik_host editor: " << message << std::endl;
    return 1;
}

// The identifier the plug-in declares for a hosted parameter. LV2 reports it inside a URI; the
// VST3 host only sees a number derived from it, so Morvik's own identifiers are tried.
juce::String declaredId (const juce::AudioProcessorParameter& parameter)
{
    juce::StringArray candidates (ParameterIds::globals, (int) std::size (ParameterIds::globals));

    for (int band = 1; band <= 3; ++band)
        for (const auto* suffix : ParameterIds::bandSuffixes)
            candidates.add (ParameterIds::band (band, suffix, false));

    const auto hostId = hostParameterId (parameter);

    for (const auto& id : candidates)
        if (hostId == id || hostId.endsWith (":" + id) || hostId.endsWith ("#" + id) || hostId.endsWith (":Band" + id)
            || hostId.endsWith ("#Band" + id))
            return hostId.endsWith ("Band" + id) ? "Band" + id : id;

    for (const auto& id : candidates)
        if (matchesId (parameter, id))
            return id;

    return hostId;
}

// Counts the gestures the plug-in reports per parameter; they may arrive on any thread.
class GestureCounter : public juce::AudioProcessorListener
{
public:
    explicit GestureCounter (int numParameters)
        : begins (new std::atomic<int>[(size_t) numParameters]),
          ends (new std::atomic<int>[(size_t) numParameters]),
          size (numParameters)
    {
        for (int i = 0; i < size; ++i)
            begins[(size_t) i] = ends[(size_t) i] = 0;
    }

    void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override {}
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}

    void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int index) override
    {
        if (juce::isPositiveAndBelow (index, size))
            ++begins[(size_t) index];
    }

    void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int index) override
    {
        if (juce::isPositiveAndBelow (index, size))
            ++ends[(size_t) index];
    }

    std::unique_ptr<std::atomic<int>[]> begins, ends;
    const int size;
};

// A top-level window that holds the editor and follows its size both ways: the editor may resize
// itself, and a resize of the X window (xdotool windowsize) is passed on to the editor.
class EditorWindow : public juce::Component
{
public:
    explicit EditorWindow (juce::AudioProcessorEditor& e)
        : editor (e)
    {
        setOpaque (true);
        addAndMakeVisible (editor);
        setSize (editor.getWidth(), editor.getHeight());
    }

    void paint (juce::Graphics& g) override { g.fillAll (juce::Colours::black); }

    void resized() override
    {
        if (editor.getBounds() != getLocalBounds())
            editor.setBounds (getLocalBounds());
    }

    void childBoundsChanged (juce::Component* child) override
    {
        if (child == &editor && editor.getBounds() != getLocalBounds())
            setBounds (getX(), getY(), editor.getWidth(), editor.getHeight());
    }

private:
    juce::AudioProcessorEditor& editor;
};

// Keeps audio flowing through the plug-in in real time, block by block, as a host's audio thread
// would, with the plug-in's callback lock held around each block.
class AudioFeeder
{
public:
    AudioFeeder (juce::AudioPluginInstance& p, juce::AudioBuffer<float> s, double r, int b)
        : plugin (p),
          signal (std::move (s)),
          rate (r),
          blockSize (b),
          thread ([this] { run(); })
    {}

    ~AudioFeeder()
    {
        stop = true;
        thread.join();
    }

    std::atomic<int> blocks { 0 };

private:
    void run()
    {
        const int channels = juce::jmax (2, plugin.getTotalNumInputChannels(), plugin.getTotalNumOutputChannels());
        juce::AudioBuffer<float> block (channels, blockSize);
        juce::MidiBuffer midi;
        const auto period = std::chrono::duration<double> (blockSize / rate);
        auto next = std::chrono::steady_clock::now();
        int position = 0;

        while (! stop.load())
        {
            block.clear();

            for (int i = 0; i < blockSize; ++i, position = (position + 1) % signal.getNumSamples())
                for (int c = 0; c < juce::jmin (2, plugin.getMainBusNumInputChannels()); ++c)
                    block.setSample (c, i, signal.getSample (c % signal.getNumChannels(), position));

            {
                const juce::ScopedLock lock (plugin.getCallbackLock());
                plugin.processBlock (block, midi);
            }

            ++blocks;
            midi.clear();
            next += std::chrono::duration_cast<std::chrono::steady_clock::duration> (period);
            std::this_thread::sleep_until (next);
        }
    }

    juce::AudioPluginInstance& plugin;
    juce::AudioBuffer<float> signal;
    const double rate;
    const int blockSize;
    std::atomic<bool> stop { false };
    std::thread thread;
};

bool makeSignal (const juce::String& kind, double rate, juce::AudioBuffer<float>& signal, juce::String& error)
{
    if (kind == "demo")
        signal = makeDemoSignal (rate);
    else if (kind == "sine")
        signal = makeSine (rate, 2.0, 1000.0, 0.5, 2);
    else if (kind == "noise")
    {
        signal.setSize (2, (int) rate);
        juce::Random random (11);

        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < signal.getNumSamples(); ++i)
                signal.setSample (c, i, 0.3f * (2.0f * random.nextFloat() - 1.0f));
    }
    else
    {
        double fileRate = 0.0;

        if (! readAudioFile (juce::File::getCurrentWorkingDirectory().getChildFile (kind), signal, fileRate, error))
            return false;
    }

    if (signal.getNumSamples() == 0)
        return (error = "the signal is empty", false);

    return true;
}

void runFor (int milliseconds) { juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds); }

// The window tree as the X server has it, on a connection of its own. The framework loads Xlib at
// run time; the same library is taken here rather than linked.
class XTree
{
public:
    XTree()
    {
        if (xlib != nullptr)
        {
            open = reinterpret_cast<void* (*) (const char*)> (dlsym (xlib, "XOpenDisplay"));
            close = reinterpret_cast<int (*) (void*)> (dlsym (xlib, "XCloseDisplay"));
            queryTree = reinterpret_cast<QueryTree> (dlsym (xlib, "XQueryTree"));
            geometry = reinterpret_cast<Geometry> (dlsym (xlib, "XGetGeometry"));
            free = reinterpret_cast<int (*) (void*)> (dlsym (xlib, "XFree"));
        }

        if (open != nullptr && close != nullptr && queryTree != nullptr && geometry != nullptr && free != nullptr)
            display = open (nullptr);
    }

    ~XTree()
    {
        if (display != nullptr)
            close (display);
    }

    // The size at which the deepest window under the top-level `window` (the plug-in's own view, at
    // the bottom of the host's embedding) fills it and shows whole, not clipped by a window between
    // them; empty when it does not, or while the server does not know the window.
    juce::Rectangle<int> filledSize (unsigned long window)
    {
        View deepest;
        int deepestLevel = -1;
        visit (window, {}, {}, 0, deepest, deepestLevel);
        return deepestLevel > 0 && deepest.bounds == deepest.top && deepest.visible == deepest.bounds
                   ? deepest.top
                   : juce::Rectangle<int>();
    }

private:
    using QueryTree = int (*) (void*, unsigned long, unsigned long*, unsigned long*, unsigned long**, unsigned*);
    using Geometry = int (*) (void*, unsigned long, unsigned long*, int*, int*, unsigned*, unsigned*, unsigned*,
                              unsigned*);

    // In the top window's coordinates.
    struct View
    {
        juce::Rectangle<int> top, bounds, visible;
    };

    void visit (unsigned long window, juce::Point<int> origin, juce::Rectangle<int> clip, int level, View& deepest,
                int& deepestLevel)
    {
        unsigned long root = 0, parent = 0, *children = nullptr;
        int x = 0, y = 0;
        unsigned width = 0, height = 0, border = 0, depth = 0, count = 0;

        if (display == nullptr || geometry (display, window, &root, &x, &y, &width, &height, &border, &depth) == 0)
            return;

        const auto bounds = level == 0 ? juce::Rectangle<int> ((int) width, (int) height)
                                       : juce::Rectangle<int> (origin.x + x, origin.y + y, (int) width, (int) height);
        const auto visible = level == 0 ? bounds : bounds.getIntersection (clip);

        if (level > deepestLevel || (level == deepestLevel && visible.getWidth() > deepest.visible.getWidth()))
            deepest = { level == 0 ? bounds : deepest.top, bounds, visible }, deepestLevel = level;

        if (queryTree (display, window, &root, &parent, &children, &count) == 0)
            return;

        for (unsigned i = 0; i < count; ++i)
            visit (children[i], bounds.getPosition(), visible, level + 1, deepest, deepestLevel);

        if (children != nullptr)
            free (children);
    }

    void* xlib = dlopen ("libX11.so.6", RTLD_NOW | RTLD_GLOBAL);
    void* display = nullptr;
    void* (*open) (const char*) = nullptr;
    int (*close) (void*) = nullptr;
    QueryTree queryTree = nullptr;
    Geometry geometry = nullptr;
    int (*free) (void*) = nullptr;
};

// JUCE's LV2 hosting shows the plug-in's view through two nested XEmbed windows. On a busy machine
// the inner one now and then keeps a stale size (1 x 1 when the view first opens, the former size
// after a resize), and the view stays clipped or out of step with the window until the size changes
// again. While the view has not filled the window for a second, the editor is resized by a pixel and
// back, as a user would drag the window's corner. A VST3 view always fills its window.
class ViewGuard : private juce::Timer
{
public:
    ViewGuard (juce::Component& e, unsigned long id)
        : editor (e),
          window (id)
    {
        startTimer (100);
    }

    // The plug-in's view fills the window, at the editor's size.
    bool viewShown() { return tree.filledSize (window) == editor.getLocalBounds(); }

private:
    void timerCallback() override
    {
        if (nudged)
        {
            editor.setSize (editor.getWidth(), editor.getHeight() - 1);
            nudged = false;
        }
        else if (! tree.filledSize (window).isEmpty())
            staleChecks = 0;
        else if (++staleChecks >= 10)
        {
            std::cerr << "the plug-in's view does not fill its window: resizing" << std::endl;
            editor.setSize (editor.getWidth(), editor.getHeight() + 1);
            nudged = true;
            staleChecks = 0;
        }
    }

    juce::Component& editor;
    const unsigned long window;
    XTree tree;
    int staleChecks = 0;
    bool nudged = false;
};

// Runs the message loop until the plug-in's view fills the window, for at most a minute.
bool waitForView (ViewGuard& guard)
{
    for (int waited = 0; waited < 60000; waited += 50)
    {
        if (guard.viewShown())
            return true;
        runFor (50);
    }
    return false;
}

// A test that has done what it came for ends the window early with SIGTERM instead of guessing how
// long a busy machine needs; the report still follows.
volatile std::sig_atomic_t stopRequested = 0;

void runUntilStopped (int milliseconds)
{
    std::signal (SIGTERM, [] (int) { stopRequested = 1; });

    for (int elapsed = 0; elapsed < milliseconds && stopRequested == 0; elapsed += 50)
        runFor (juce::jmin (50, milliseconds - elapsed));
}

bool takePicture (unsigned long windowId, const juce::File& png, juce::String& error)
{
    juce::ChildProcess import;

    if (! import.start (juce::StringArray { "import", "-window", juce::String (windowId), png.getFullPathName() }))
        return (error = "cannot run imagemagick's import", false);

    const auto output = import.readAllProcessOutput();

    if (! import.waitForProcessToFinish (20000) || import.getExitCode() != 0 || ! png.existsAsFile())
        return (error = "import failed: " + output, false);

    return true;
}
} // namespace

int runEditorCommand (const juce::StringPairArray& options, const juce::StringArray& sets)
{
    Format format;

    if (! parseFormat (options["format"], format) || options["plugin"].isEmpty())
        return fail (juce::String ("needs --format vst3|lv2 and --plugin <bundle>\n") + editorUsage);

    const double rate = options.getValue ("rate", "48000").getDoubleValue();
    const int block = juce::jmax (1, options.getValue ("block", "512").getIntValue());
    const double seconds = options.getValue ("seconds", "2").getDoubleValue();
    int width = 0, height = 0;

    if (options.containsKey ("size"))
    {
        const auto size = options["size"];
        width = size.upToFirstOccurrenceOf ("x", false, true).getIntValue();
        height = size.fromFirstOccurrenceOf ("x", false, true).getIntValue();

        if (width <= 0 || height <= 0)
            return fail ("--size wants WxH, e.g. 900x530");
    }

    juce::String error;
    juce::AudioBuffer<float> signal;

    if (rate <= 0.0 || ! makeSignal (options.getValue ("signal", "demo"), rate, signal, error))
        return fail (error.isEmpty() ? "bad --rate" : error);

    tolerateXErrors();

    if (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay() == nullptr)
        return fail ("no display: run under Xvfb (xvfb-run)");

    Host host;
    auto instance = host.load (format, options["plugin"], rate, block, error);

    if (instance == nullptr)
        return fail (error);

    if (! applyLayout (*instance, BusRequest {}))
        return fail ("the plug-in refused a stereo layout");

    for (const auto& assignment : sets)
    {
        const auto id = assignment.upToFirstOccurrenceOf ("=", false, false).trim();
        const auto value = assignment.fromFirstOccurrenceOf ("=", false, false).trim();

        if (! assignment.contains ("=") || ! setParameter (*instance, id, value, error))
            return fail (error.isEmpty() ? "bad --set " + assignment : error);
    }

    GestureCounter gestures (instance->getParameters().size());
    instance->addListener (&gestures);
    instance->setRateAndBufferSizeDetails (rate, block);
    instance->prepareToPlay (rate, block);

    int exitCode = 0;
    {
        AudioFeeder audio (*instance, signal, rate, block);
        std::unique_ptr<juce::AudioProcessorEditor> editor (instance->createEditorIfNeeded());

        if (editor == nullptr)
            return fail ("the plug-in has no editor");

        auto window = std::make_unique<EditorWindow> (*editor);
        window->setTopLeftPosition (0, 0);
        window->addToDesktop (juce::ComponentPeer::windowAppearsOnTaskbar);
        window->setVisible (true);
        window->toFront (false);
        const auto windowId = (unsigned long) (juce::pointer_sized_uint) window->getPeer()->getNativeHandle();
        ViewGuard guard (*editor, windowId);
        bool shown = waitForView (guard);
        // Then a moment for the plug-in's own start-up messages: a click at once, in a VST3 whose
        // editor has just opened, can find them still queued.
        runFor (400);

        if (width > 0)
        {
            editor->setSize (width, height);
            shown = waitForView (guard);
            runFor (400);
        }

        if (! shown)
            std::cerr << "the plug-in's view did not show" << std::endl;

        std::cout << "window " << windowId << std::endl;
        std::cerr << "editor " << editor->getWidth() << "x" << editor->getHeight() << std::endl;
        runUntilStopped (juce::jmax (0, (int) (seconds * 1000.0)));

        if (options.containsKey ("png"))
        {
            const auto png = juce::File::getCurrentWorkingDirectory().getChildFile (options["png"]);
            png.getParentDirectory().createDirectory();
            png.deleteFile();

            if (! takePicture (windowId, png, error))
                exitCode = fail (error);
        }

        window.reset();
        editor.reset();
        std::cout << "audio " << audio.blocks.load() << "\n";
    }

    instance->releaseResources();
    instance->removeListener (&gestures);

    const auto parameters = instance->getParameters();

    for (auto* parameter : parameters)
    {
        const auto value = parameter->getValue();
        std::cout << "param " << declaredId (*parameter) << " " << value << " " << parameter->getText (value, 1024)
                  << "\n";
    }

    for (int i = 0; i < parameters.size(); ++i)
        std::cout << "gesture " << declaredId (*parameters[i]) << " " << gestures.begins[(size_t) i].load() << " "
                  << gestures.ends[(size_t) i].load() << "\n";

    std::cout << std::flush;
    return exitCode;
}
} // namespace hostkit
