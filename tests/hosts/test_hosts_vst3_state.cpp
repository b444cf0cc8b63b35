// A raw VST3 host on the SDK headers alone: it hands crafted bytes to IComponent::setState of the
// built bundle and reads back what getState gives. The wrapper appends a trailer to every state
// (eight zero bytes, a small tree, its size in eight bytes, "JUCEPrivateData"); damaged trailers
// must leave the plug-in at its defaults without reading outside the state, and a good state must
// come back byte for byte.

#define INIT_CLASS_IID
#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <random>
#include <string>
#include <vector>

using namespace Steinberg;
using Bytes = std::vector<uint8>;

namespace
{
const std::string trailerId = "JUCEPrivateData";

class MemoryStream : public IBStream
{
public:
    explicit MemoryStream (Bytes initial = {})
        : data (std::move (initial))
    {}

    tresult PLUGIN_API queryInterface (const TUID iid, void** object) override
    {
        if (FUnknownPrivate::iidEqual (iid, IBStream::iid) || FUnknownPrivate::iidEqual (iid, FUnknown::iid))
        {
            *object = this;
            return kResultOk;
        }

        *object = nullptr;
        return kNoInterface;
    }

    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

    tresult PLUGIN_API read (void* buffer, int32 numBytes, int32* numRead) override
    {
        const auto count = std::max<int64> (0, std::min<int64> (numBytes, (int64) data.size() - position));
        std::memcpy (buffer, data.data() + position, (size_t) count);
        position += count;
        if (numRead != nullptr)
            *numRead = (int32) count;
        return kResultOk;
    }

    tresult PLUGIN_API write (void* buffer, int32 numBytes, int32* numWritten) override
    {
        data.resize (std::max (data.size(), (size_t) (position + numBytes)));
        std::memcpy (data.data() + position, buffer, (size_t) numBytes);
        position += numBytes;
        if (numWritten != nullptr)
            *numWritten = numBytes;
        return kResultOk;
    }

    tresult PLUGIN_API seek (int64 pos, int32 mode, int64* result) override
    {
        position = mode == kIBSeekSet ? pos : mode == kIBSeekCur ? position + pos : (int64) data.size() + pos;
        position = std::clamp<int64> (position, 0, (int64) data.size());

        if (result != nullptr)
            *result = position;

        return kResultOk;
    }

    tresult PLUGIN_API tell (int64* pos) override
    {
        *pos = position;
        return kResultOk;
    }

    Bytes data;

private:
    int64 position = 0;
};

// The built plug-in, loaded once; every component is a fresh instance.
class Plugin
{
public:
    Plugin()
    {
        const auto path = std::string (MORVIK_VST3_BUNDLE) + "/Contents/x86_64-linux/Morvik.so";
        library = dlopen (path.c_str(), RTLD_NOW | RTLD_LOCAL);

        if (library == nullptr)
            return;

        using Entry = bool (*) (void*);
        using GetFactory = IPluginFactory* (*) ();
        auto entry = reinterpret_cast<Entry> (dlsym (library, "ModuleEntry"));
        auto getFactory = reinterpret_cast<GetFactory> (dlsym (library, "GetPluginFactory"));

        if (entry == nullptr || getFactory == nullptr || ! entry (library))
            return;

        factory = getFactory();

        for (int32 i = 0; factory != nullptr && i < factory->countClasses(); ++i)
        {
            PClassInfo info;
            if (factory->getClassInfo (i, &info) == kResultOk && std::string (info.category) == kVstAudioEffectClass)
                std::memcpy (componentClass, info.cid, sizeof (TUID));
        }
    }

    ~Plugin()
    {
        if (factory != nullptr)
            factory->release();

        if (auto exitModule =
                library != nullptr ? reinterpret_cast<bool (*)()> (dlsym (library, "ModuleExit")) : nullptr)
            exitModule();
    }

    bool loaded() const { return factory != nullptr; }

    // setState with `state` on a fresh component (nothing when empty), then its getState.
    Bytes roundTrip (const Bytes& state)
    {
        Vst::IComponent* component = nullptr;
        if (factory->createInstance (componentClass, Vst::IComponent::iid, reinterpret_cast<void**> (&component))
                != kResultOk
            || component == nullptr)
            return {};

        component->initialize (nullptr);

        if (! state.empty())
        {
            MemoryStream in (state);
            component->setState (&in);
        }

        MemoryStream out;
        component->getState (&out);
        component->terminate();
        component->release();
        return out.data;
    }

private:
    void* library = nullptr;
    IPluginFactory* factory = nullptr;
    TUID componentClass {};
};

Plugin& plugin()
{
    static Plugin instance;
    return instance;
}

void append (Bytes& bytes, const void* data, size_t size)
{
    const auto* begin = static_cast<const uint8*> (data);
    bytes.insert (bytes.end(), begin, begin + size);
}

void appendText (Bytes& bytes, const std::string& text) { append (bytes, text.c_str(), text.size() + 1); }

// The framework's value-tree stream: a "Parameters" root and one "PARAM" child per parameter with
// an "id" and a double "value", which is how the plug-in itself writes its state.
Bytes parameterTree (const std::vector<std::pair<std::string, double>>& values)
{
    Bytes tree;
    appendText (tree, "Parameters");
    tree.insert (tree.end(), { 0, 1, (uint8) values.size() }); // no properties, one-byte child count

    for (const auto& [id, value] : values)
    {
        appendText (tree, "PARAM");
        tree.insert (tree.end(), { 1, 2 });
        appendText (tree, "id");
        tree.insert (tree.end(), { 1, (uint8) (id.size() + 2), 5 });
        appendText (tree, id);
        appendText (tree, "value");
        tree.insert (tree.end(), { 1, 9, 4 });
        append (tree, &value, 8);
        tree.push_back (0);
    }

    return tree;
}

// state + 8 zero bytes + private tree + its size (as given) + identifier.
Bytes withTrailer (Bytes state, const Bytes& privateTree, uint64 size)
{
    state.insert (state.end(), 8, 0);
    append (state, privateTree.data(), privateTree.size());
    append (state, &size, 8);
    append (state, trailerId.data(), trailerId.size());
    return state;
}

// Empty when equal; otherwise where they part.
std::string difference (const Bytes& a, const Bytes& b)
{
    if (a == b)
        return {};
    const auto at = std::mismatch (a.begin(), a.end(), b.begin(), b.end()).first - a.begin();
    return "sizes " + std::to_string (a.size()) + " and " + std::to_string (b.size()) + ", first difference at "
           + std::to_string (at);
}

size_t trailerSizeOffset (const Bytes& state) { return state.size() - trailerId.size() - 8; }

// Every parameter away from its default; band frequencies at values the host reaches through the
// plug-in's own frequency axis (20 * 2^(10 v) in single precision), so that none is a round number.
Bytes goodTree()
{
    const auto hz = [] (float v) { return (double) (20.0f * std::exp2 (10.0f * v)); };
    return parameterTree (
        { { "Power", 0.0 },   { "Compress", 31.5 },       { "Ratio", 7.5 },   { "Attack", 2.5 }, { "Release", 120 },
          { "Makeup", -3.5 }, { "Character", 64 },        { "Mix", 0.25 },    { "Smooth", 20 },  { "1On", 0 },
          { "1Type", 0 },     { "1Freq", hz (0.3107f) },  { "1Gain", -6.25 }, { "1Q", 2.5 },     { "2On", 0 },
          { "2Type", 4 },     { "2Freq", hz (0.43219f) }, { "2Gain", 7.5 },   { "2Q", 0.5 },     { "3On", 0 },
          { "3Type", 0 },     { "3Freq", hz (0.8912f) },  { "3Gain", -12 },   { "3Q", 4.0 } });
}

class Vst3State : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE (plugin().loaded()) << "could not load " << MORVIK_VST3_BUNDLE;
        defaults = plugin().roundTrip ({});
        ASSERT_GT (defaults.size(), trailerId.size() + 16);
        const auto sizeAt = trailerSizeOffset (defaults);
        std::memcpy (&defaultTrailerSize, defaults.data() + sizeAt, 8);
        defaultTree.assign (defaults.begin(), defaults.begin() + (long) (sizeAt - defaultTrailerSize - 8));
        defaultPrivate.assign (defaults.begin() + (long) (sizeAt - defaultTrailerSize),
                               defaults.begin() + (long) sizeAt);
    }

    Bytes defaults, defaultTree, defaultPrivate;
    uint64 defaultTrailerSize = 0;
};

TEST_F (Vst3State, AGoodStateComesBackByteForByteThroughTenInstances)
{
    const auto tree = goodTree();
    auto state = withTrailer (tree, defaultPrivate, defaultTrailerSize);

    for (int cycle = 0; cycle < 10; ++cycle)
    {
        const auto saved = plugin().roundTrip (state);
        ASSERT_EQ (difference (saved, state), "") << "cycle " << cycle;
        state = saved;
    }

    EXPECT_NE (state, defaults);
}

TEST_F (Vst3State, DamagedTrailerSizesLeaveThePluginAtItsDefaults)
{
    const auto good = withTrailer (goodTree(), defaultPrivate, defaultTrailerSize);
    const auto sizeAt = trailerSizeOffset (good);
    const uint64 fits = good.size() - trailerId.size() - 16; // the largest size that fits

    // The 23-byte state: a size of 1 and the identifier, nothing else.
    Bytes tiny;
    const uint64 one = 1;
    append (tiny, &one, 8);
    append (tiny, trailerId.data(), trailerId.size());
    ASSERT_EQ (tiny.size(), 23u);
    EXPECT_EQ (plugin().roundTrip (tiny), defaults);

    // Sizes that reach outside the state, then sizes that fit but are wrong: the state left over is
    // empty or cut short of a whole tree.
    for (const uint64 size :
         { defaultTrailerSize | (1ull << 63), (uint64) fits + 1, (uint64) good.size(), ~0ull, ~0ull - 7,
           ~0ull - (uint64) good.size(), 1ull << 32, fits, fits - 1, defaultTrailerSize + 1 })
    {
        auto damaged = good;
        std::memcpy (damaged.data() + sizeAt, &size, 8);
        EXPECT_EQ (plugin().roundTrip (damaged), defaults) << "trailer size " << size;
    }
}

TEST_F (Vst3State, RandomTrailersNeitherCrashNorChangeWhatTheStateMeans)
{
    const auto tree = goodTree();
    const auto expected = withTrailer (tree, defaultPrivate, defaultTrailerSize);
    std::mt19937_64 random (17);

    for (int round = 0; round < 60; ++round)
    {
        Bytes privateTree (random() % 48);
        for (auto& byte : privateTree)
            byte = (uint8) random();

        // Half the trailers carry their true size, whatever their bytes; the others a random one.
        const bool trueSize = round % 2 == 0;
        const uint64 size = trueSize ? privateTree.size() : (uint64) random() >> (random() % 64);
        const auto fits = size <= privateTree.size() + tree.size();
        const auto saved = plugin().roundTrip (withTrailer (tree, privateTree, size));

        if (trueSize)
            EXPECT_EQ (difference (saved, expected), "") << "round " << round;
        else if (! fits)
            EXPECT_EQ (saved, defaults) << "round " << round << ", size " << size;
        else
            EXPECT_TRUE (saved == defaults || saved == expected) << "round " << round << ", size " << size;
    }
}
} // namespace
