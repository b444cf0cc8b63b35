// What the tests that show the editor in a real host share: programs run with their output read line
// by line, an X server of the test's own, and `morvik_host editor` started on it with its report
// (the "window", "audio", "param" and "gesture" lines) read back.

#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace editorhost
{
// A program whose standard output is read line by line (its standard error is dropped). It inherits
// this process's environment, which a Display points at its own X server and HOME.
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

    void terminate()
    {
        if (pid > 0)
            kill (pid, SIGTERM);
    }

    void stop()
    {
        terminate();
        wait();
    }

    // Whether the program has ended, without waiting for it.
    bool exited()
    {
        int status = 0;
        if (pid > 0 && waitpid (pid, &status, WNOHANG) == pid)
            pid = -1;
        return pid <= 0;
    }

    pid_t pid = -1;

private:
    FILE* output = nullptr;
};

struct Ran
{
    int exitCode;
    juce::String output;
};

// Runs a command to its end.
inline Ran run (const juce::StringArray& args)
{
    Process process (args);
    juce::String all, line;
    while (process.readLine (line))
        all << line << "\n";
    return { process.wait(), all };
}

// CI installs every program these tests start, so a missing one is a broken install: it fails the
// test, naming the Debian package that brings it.
inline bool expectInstalled (std::initializer_list<std::pair<const char*, const char*>> programs)
{
    bool all = true;
    for (const auto& [program, package] : programs)
        if (std::system (("command -v " + std::string (program) + " > /dev/null").c_str()) != 0)
        {
            ADD_FAILURE() << program << " is not installed (Debian package " << package << ")";
            all = false;
        }
    return all;
}

// An X server of the test's own, large enough for the largest editor, so that no other test's window
// lies under the pointer; Xvfb picks a free display number and writes it once it accepts clients.
// This process, and so every program it starts, is pointed at it and at an empty HOME (which keeps
// a copy installed in ~/.lv2 from shadowing the build's bundle). The HOME is made by mkdtemp: test
// programs started together must never share one, or one's pictures overwrite the other's and
// its end deletes the other's folder.
class Display
{
public:
    Display()
    {
        expectInstalled ({ { "Xvfb", "xvfb" }, { "xdotool", "xdotool" }, { "import", "imagemagick" } });
        juce::String number;
        if (server.readLine (number) && number.isNotEmpty() && number.containsOnly ("0123456789"))
            name = ":" + number;
        setenv ("DISPLAY", name.toRawUTF8(), 1);
        setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
    }

    ~Display() { home.deleteRecursively(); }

    juce::String name;
    const juce::File home = [] {
        auto path = juce::File::getSpecialLocation (juce::File::tempDirectory)
                        .getChildFile ("morvik_home_XXXXXX")
                        .getFullPathName()
                        .toStdString();
        return juce::File (mkdtemp (path.data()) != nullptr ? path : std::string());
    }();

private:
    Process server { { "Xvfb", "-displayfd", "1", "-screen", "0", "1920x1200x24", "-nolisten", "tcp" } };
};

inline juce::Image picture (const juce::String& window, const juce::File& png)
{
    png.deleteFile();
    run ({ "import", "-window", window, png.getFullPathName() });
    return juce::ImageFileFormat::loadFrom (png);
}

struct Parameter
{
    float normalised;
    juce::String text; // with its unit ("359.2 Hz") from the VST3, the plain number from the LV2
};

// What `morvik_host editor` reported on exit. Band parameters are keyed "1Freq" and so on: the LV2
// build names them "Band1Freq".
struct Report
{
    int exitCode = -1, blocks = 0;
    std::map<juce::String, Parameter> params;
    std::map<juce::String, std::pair<int, int>> gestures; // begins, ends
    juce::String output;
};

// `morvik_host editor` on the Display this process uses, with its editor on screen once the
// constructor returns (window is empty if it never showed).
class HostedEditor
{
public:
    HostedEditor (const juce::String& format, const juce::String& bundle, const juce::StringArray& options)
        : host ([&] {
              juce::StringArray args { MORVIK_HOST_PROGRAM, "editor", "--format",  format,
                                       "--plugin",          bundle,   "--seconds", "300" };
              args.addArray (options);
              return args;
          }())
    {
        juce::String line;
        while (window.isEmpty() && host.readLine (line))
            if (line.startsWith ("window "))
                window = line.fromFirstOccurrenceOf (" ", false, false).trim();
            else
                output << line << "\n";
    }

    // Ends the host and reads its report. The host is started with a lifetime far longer than any
    // test needs, so a busy machine cannot close the window under the test's feet; a moment for the
    // host to take the last mouse events, then SIGTERM ends the window and the report follows.
    Report finish()
    {
        juce::Thread::sleep (1000);
        host.terminate();
        Report report;
        report.output = output;
        juce::String line;
        while (host.readLine (line))
        {
            report.output << line << "\n";
            const auto words = juce::StringArray::fromTokens (line, " ", "");
            const auto id = words.size() > 1 && words[1].startsWith ("Band") ? words[1].substring (4) : words[1];
            if (words.size() == 2 && words[0] == "audio")
                report.blocks = words[1].getIntValue();
            else if (words.size() >= 4 && words[0] == "param")
            {
                EXPECT_EQ (report.params.count (id), 0u) << "reported twice: " << id;
                report.params[id] = { words[2].getFloatValue(), words.joinIntoString (" ", 3) };
            }
            else if (words.size() == 4 && words[0] == "gesture")
                report.gestures[id] = { words[2].getIntValue(), words[3].getIntValue() };
        }
        report.exitCode = host.wait();
        return report;
    }

    juce::String window, output;

private:
    Process host;
};
} // namespace editorhost
