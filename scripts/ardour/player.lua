ardour {
    ["type"]    = "dsp",
    name        = "Morvik Test Player",
    category    = "Utility",
    license     = "MIT",
    author      = "Morvik",
    description = "Plays the samples held in its shared memory at the transport position, so that a headless session can render a file without importing it"
}

-- Shared memory layout, written by render.lua before the processor is inserted:
-- int 0: frames, int 1: channels, then each channel's frames as floats in turn.

function dsp_ioconfig ()
    return { { audio_in = 2, audio_out = 2 } }
end

function dsp_run (ins, outs, n_samples)
    local shmem = self:shmem ()
    local header = shmem:to_int (0):array ()
    local frames = header[1]
    local channels = header[2]
    local pos = Session:transport_sample ()
    local rolling = Session:transport_rolling ()

    for c = 1, #outs do
        ARDOUR.DSP.memset (outs[c], 0, n_samples)
        if rolling and channels > 0 and pos >= 0 and pos < frames then
            local n = math.min (n_samples, frames - pos)
            local src = shmem:to_float (2 + ((c - 1) % channels) * frames + pos)
            ARDOUR.DSP.copy_vector (outs[c], src, n)
        end
    end
end
