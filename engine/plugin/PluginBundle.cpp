#include "engine/plugin/PluginBundle.h"

namespace PluginBundle
{
juce::File bundleFolderFor (juce::AudioProcessor::WrapperType wrapper, const juce::File& binary)
{
    if (binary == juce::File())
        return {};

    const auto binaryFolder = binary.getParentDirectory();

    if (wrapper == juce::AudioProcessor::wrapperType_VST3)
    {
        const auto contents = binaryFolder.getParentDirectory();

        // The architecture folder's parent is "Contents" only inside a real bundle; the root
        // folder is its own parent, which this test also rules out.
        if (contents != binaryFolder && contents.getFileName() == "Contents")
            return contents.getParentDirectory();
    }

    return binaryFolder;
}

juce::File presetFolderIn (const juce::File& bundle)
{
    if (bundle == juce::File())
        return {};

    return bundle.getChildFile ("Contents").getChildFile ("Resources").getChildFile ("Presets");
}

juce::File currentBinary() { return juce::File::getSpecialLocation (juce::File::currentApplicationFile); }

juce::File currentBundleFolder (const juce::AudioProcessor& processor)
{
    auto wrapper = processor.wrapperType;

    if (wrapper == juce::AudioProcessor::wrapperType_Undefined)
        wrapper = juce::PluginHostType::getPluginLoadedAs();

    return bundleFolderFor (wrapper, currentBinary());
}

juce::File currentPresetFolder (const juce::AudioProcessor& processor)
{
    return presetFolderIn (currentBundleFolder (processor));
}
} // namespace PluginBundle
