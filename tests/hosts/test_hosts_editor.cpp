// The editor in real hosts, on an X server of the test's own (Xvfb): through JUCE's hosting
// (morvik_host editor) the VST3 and the LV2 open their editor while audio flows, are resized by the
// window system to the smallest, default and largest sizes, take a knob drag and close; and jalv, an
// LV2 host, opens the LV2's editor against a dummy JACK server. Pictures come from the X server and
// are checked at the panel outline, whose place the layout fixes at every size.

#include "HostKit.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{
// A program whose standard output can be read line by line; it inherits this process's environment
// (the tests point DISPLAY and HOME at their own).
class Process
{
public:
    explicit Process (const juce::StringArray& args)
    {
        int fds[2];
        if (pipe (fds) != 0)
            return;

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init (&actions);
        posix_spawn_file_actions_adddup2 (&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose (&actions, fds[0]);
        posix_spawn_file_actions_addopen (&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

        std::vector<std::string> strings;
        std::vector<char*> argv;
        for (const auto& arg : args)
            strings.push_back (arg.toStdString());
        for (auto& string : strings)
            argv.push_back (string.data());
        argv.push_back (nullptr);

        if (posix_spawnp (&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;

        posix_spawn_file_actions_destroy (&actions);
        close (fds[1]);
        output = fdopen (fds[0], "r");
    }

    ~Process()
    {
        stop();
        if (output != nullptr)
            fclose (output);
    }

    // The next line of output without its newline; false at the end of the output.
    bool readLine (juce::String& line)
    {
        char buffer[4096];
        if (output == nullptr || fgets (buffer, sizeof (buffer), output) == nullptr)
            return false;
        line = juce::String (buffer).trimEnd();
        return true;
    }

    // Waits for the exit and returns the exit code (-1 if it did not exit normally).
    int wait()
    {
        int status = 0;
        if (pid <= 0 || waitpid (pid, &status, 0) != pid)
            return -1;
        pid = -1;
        return WIFEXITED (status) ? WEXITSTATUS (status) : -1;
    }

    void stop()
    {
        if (pid > 0)
            kill (pid, SIGTERM);
        wait();
    }

    pid_t pid = -1;

private:
    FILE* output = nullptr;
};

// Runs a command to its end and returns its output.
juce::String run (const juce::StringArray& args)
{
    Process process (args);
    juce::String all, line;
    while (process.readLine (line))
        all << line << "\n";
    process.wait();
    return all;
}

// An X server of this test's own, large enough for the largest editor.
class VirtualDisplay
{
public:
    VirtualDisplay()
    {
        for (int number = 90 + (int) (getpid() % 50); number < 400 && name.isEmpty(); ++number)
        {
            if (juce::File ("/tmp/.X" + juce::String (number) + "-lock").exists()
                || juce::File ("/tmp/.X11-unix/X" + juce::String (number)).exists())
                continue;

            server = std::make_unique<Process> (juce::StringArray { "Xvfb", ":" + juce::String (number), "-screen", "0",
                                                                    "1920x1200x24", "-nolisten", "tcp" });
            const auto socket = juce::File ("/tmp/.X11-unix/X" + juce::String (number));

            for (int i = 0; i < 100 && ! socket.exists(); ++i)
                juce::Thread::sleep (50);

            if (socket.exists())
                name = ":" + juce::String (number);
            else
                server.reset();
        }
    }

    juce::String name;

private:
    std::unique_ptr<Process> server;
};

// Points this process, and so every program it starts, at the display and at an empty HOME (which
// keeps a copy installed in ~/.lv2 from shadowing the build's bundle).
void useDisplay (const VirtualDisplay& display, const juce::File& home)
{
    setenv ("DISPLAY", display.name.toRawUTF8(), 1);
    setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
}

juce::Image picture (unsigned long window, const juce::File& png)
{
    png.deleteFile();
    run ({ "import", "-window", juce::String (window), png.getFullPathName() });
    return juce::ImageFileFormat::loadFrom (png);
}

// The compressor panel's left outline, half-way down: two pixels of blackUltraPelko, then two of
// blackPelko, at x = attack label x - 3p, where p = (int) (0.174 x attack x). Nothing is drawn over
// it, so every version of the widgets leaves it in place.
struct Outline
{
    int width, height, x, y;
};
const Outline outlines[] = { { 450, 265, 14, 90 }, { 900, 530, 25, 180 }, { 1800, 1060, 50, 360 } };

void expectOutline (const juce::Image& image, const Outline& o, int top = 0)
{
    ASSERT_TRUE (image.isValid());
    EXPECT_EQ (image.getPixelAt (o.x, o.y + top).getARGB() & 0xffffffu, 0x191A1Au) << o.width;
    EXPECT_EQ (image.getPixelAt (o.x + 1, o.y + top).getARGB() & 0xffffffu, 0x191A1Au) << o.width;
    EXPECT_EQ (image.getPixelAt (o.x + 2, o.y + top).getARGB() & 0xffffffu, 0x282929u) << o.width;
    EXPECT_EQ (image.getPixelAt (o.x + 3, o.y + top).getARGB() & 0xffffffu, 0x282929u) << o.width;
}

// Pictures of the window until one shows the editor at the outline's size (the host and the plug-in
// resize and redraw asynchronously, the more slowly the busier the machine), for at most 8 s.
juce::Image settledPicture (unsigned long window, const juce::File& png, const Outline& o)
{
    juce::Image image;
    for (int attempt = 0; attempt < 32; ++attempt)
    {
        image = picture (window, png);
        if (image.isValid() && image.getWidth() == o.width && image.getHeight() == o.height
            && (image.getPixelAt (o.x, o.y).getARGB() & 0xffffffu) == 0x191A1Au)
            break;
        juce::Thread::sleep (250);
    }
    return image;
}

class HostedEditor : public ::testing::TestWithParam<hostkit::Format>
{
protected:
    juce::ScopedJuceInitialiser_GUI gui;
    juce::TemporaryFile folder;
    VirtualDisplay display;

    void SetUp() override
    {
        folder.getFile().createDirectory();
        ASSERT_TRUE (display.name.isNotEmpty()) << "no Xvfb";
    }

    void TearDown() override { folder.getFile().deleteRecursively(); }
};

TEST_P (HostedEditor, OpensResizesTakesADragAndCloses)
{
    const bool vst3 = GetParam() == hostkit::Format::vst3;
    useDisplay (display, folder.getFile());
    Process host ({ MORVIK_HOST_PROGRAM, "editor", "--format", vst3 ? "vst3" : "lv2", "--plugin",
                    vst3 ? MORVIK_VST3_BUNDLE : MORVIK_LV2_BUNDLE, "--seconds", "10", "--signal", "demo" });
    ASSERT_GT (host.pid, 0);

    juce::String line;
    ASSERT_TRUE (host.readLine (line));
    ASSERT_TRUE (line.startsWith ("window ")) << line;
    const auto window = (unsigned long) line.fromFirstOccurrenceOf (" ", false, false).getLargeIntValue();
    const auto png = folder.getFile().getChildFile ("editor.png");

    // It opens at the size a new instance has.
    expectOutline (settledPicture (window, png, outlines[1]), outlines[1]);

    // The window system resizes the host's window; the host hands the size on to the editor.
    for (const auto& outline : { outlines[0], outlines[2], outlines[1] })
    {
        run ({ "xdotool", "windowsize", juce::String (window), juce::String (outline.width),
               juce::String (outline.height) });
        const auto image = settledPicture (window, png, outline);
        ASSERT_EQ (image.getWidth(), outline.width);
        ASSERT_EQ (image.getHeight(), outline.height);
        expectOutline (image, outline);
    }

    // A drag upwards on MAKEUP (179 px wide at (563, 111)) turns it up, inside one gesture.
    run ({ "xdotool",
           "mousemove",
           "--window",
           juce::String (window),
           "652",
           "200",
           "mousedown",
           "1",
           "sleep",
           "0.1",
           "mousemove_relative",
           "--",
           "0",
           "-30",
           "sleep",
           "0.1",
           "mousemove_relative",
           "--",
           "0",
           "-30",
           "sleep",
           "0.1",
           "mouseup",
           "1" });

    std::map<juce::String, juce::String> params, gestures;
    int blocks = 0;
    while (host.readLine (line))
    {
        if (line.startsWith ("audio "))
            blocks = line.getTrailingIntValue();
        auto rest = line.fromFirstOccurrenceOf (" ", false, false);
        auto id = rest.upToFirstOccurrenceOf (" ", false, false);
        if (line.startsWith ("param "))
            params[id] = rest.fromFirstOccurrenceOf (" ", false, false);
        else if (line.startsWith ("gesture "))
            gestures[id] = rest.fromFirstOccurrenceOf (" ", false, false);
    }
    EXPECT_EQ (host.wait(), 0);
    EXPECT_GT (blocks, 500) << "audio did not flow while the editor was open"; // ~940 blocks in 10 s

    EXPECT_EQ (params.count ("Band2Gain") + params.count ("2Gain"), 1u);
    ASSERT_EQ (params.count ("Makeup"), 1u);
    EXPECT_GT (params["Makeup"].upToFirstOccurrenceOf (" ", false, false).getFloatValue(), 0.3f) << params["Makeup"];
    // JUCE's VST3 host reports the drag as one gesture; its LV2 host passes no gestures on.
    EXPECT_EQ (gestures["Makeup"], vst3 ? "1 1" : "0 0");
    EXPECT_EQ (gestures["Compress"], "0 0");
    EXPECT_TRUE (params["Power"].startsWith ("1 "));
}

INSTANTIATE_TEST_SUITE_P (Formats, HostedEditor, ::testing::Values (hostkit::Format::vst3, hostkit::Format::lv2),
                          [] (const auto& info) { return hostkit::formatName (info.param).toStdString(); });

TEST (Jalv, ShowsTheLv2Editor)
{
    if (! juce::File ("/usr/bin/jalv.gtk3").existsAsFile() || ! juce::File ("/usr/bin/jackd").existsAsFile())
        GTEST_SKIP() << "jalv or jackd is not installed";

    juce::ScopedJuceInitialiser_GUI gui;
    juce::TemporaryFile folder;
    folder.getFile().createDirectory();
    VirtualDisplay display;
    ASSERT_TRUE (display.name.isNotEmpty());

    useDisplay (display, folder.getFile());
    // JACK keeps few server names: one per run of this test, removed with its server.
    const auto server = "morvik" + juce::String (getpid());
    setenv ("JACK_DEFAULT_SERVER", server.toRawUTF8(), 1);
    setenv ("LV2_PATH", juce::File (MORVIK_LV2_BUNDLE).getParentDirectory().getFullPathName().toRawUTF8(), 1);
    setenv ("JACK_NO_AUDIO_RESERVATION", "1", 1);

    Process jack ({ "jackd", "-n", server, "-d", "dummy", "-r", "48000", "-p", "512" });
    ASSERT_GT (jack.pid, 0);
    run ({ "jack_wait", "--server", server, "--wait", "--timeout", "10" });

    const auto uri = hostkit::readLv2PluginUri (juce::File (MORVIK_LV2_BUNDLE));
    Process jalv ({ "jalv.gtk3", uri });
    ASSERT_GT (jalv.pid, 0);
    const auto found =
        run ({ "timeout", "30", "xdotool", "search", "--sync", "--onlyvisible", "--pid", juce::String (jalv.pid) })
            .trim();
    ASSERT_TRUE (found.isNotEmpty()) << "jalv showed no window";
    const auto window = (unsigned long) found.upToFirstOccurrenceOf ("\n", false, false).getLargeIntValue();

    // jalv puts its menu bar above the plug-in's view: find the view by the compressor panel's top
    // outline (rows 44 and 45 blackUltraPelko, 46 and 47 blackPelko at 900 x 530). The view attaches
    // and draws a moment after the window shows.
    juce::Image image;
    int top = -1;
    for (int attempt = 0; attempt < 32 && top < 0; ++attempt, juce::Thread::sleep (250))
    {
        image = picture (window, folder.getFile().getChildFile ("jalv.png"));
        const auto rgb = [&image] (int x, int y) { return image.getPixelAt (x, y).getARGB() & 0xffffffu; };
        for (int y = 0; y <= 60 && top < 0 && image.isValid(); ++y)
            if (rgb (200, y + 44) == 0x191A1Au && rgb (200, y + 45) == 0x191A1Au && rgb (200, y + 46) == 0x282929u
                && rgb (200, y + 47) == 0x282929u)
                top = y;
    }
    ASSERT_TRUE (image.isValid());
    EXPECT_EQ (image.getWidth(), 900);
    ASSERT_GE (top, 0) << "no editor in jalv's window";
    EXPECT_EQ (image.getHeight(), 530 + top);
    expectOutline (image, outlines[1], top);

    jalv.stop();
    jack.stop();
    folder.getFile().deleteRecursively();
}
} // namespace
