-- Renders a file through a plug-in in a headless Ardour session (ardour7-lua, Dummy backend).
-- Driven by render.sh, which prepares the inputs and passes everything through the environment:
--   MORVIK_SESSION     folder for the new session
--   MORVIK_RATE        session sample rate
--   MORVIK_FORMAT      LV2 or VST3
--   MORVIK_PLUGIN_ID   LV2 URI or VST3 class UID
--   MORVIK_INPUT       raw input (see player.lua for the layout)
--   MORVIK_SIDECHAIN   raw side-chain input (optional; VST3 side-chain bus)
--   MORVIK_SETTINGS    file of "label<TAB>value" lines (VST3 values normalised, LV2 in plain units)
--   MORVIK_EXPORT_DIR  folder for the exported WAV
--   MORVIK_EXPORT_NAME name of the export (the file name is derived from it)
--   MORVIK_PRESET      UUID of the float WAV export preset

local function env (name, default)
    local value = os.getenv (name)
    if value == nil or value == "" then
        if default ~= nil then return default end
        error ("missing environment variable " .. name)
    end
    return value
end

-- Progress goes to stderr unbuffered, so a stuck step shows in the log.
local function say (message)
    io.stderr:write (message .. "\n")
    io.stderr:flush ()
end

local function fail (message)
    say ("RENDER-ERROR: " .. message)
    close_session ()
    os.exit (3)
end

-- Reads a raw file into a player's shared memory; returns its frame count.
local function fill_player (proc, path)
    local f = io.open (path, "rb")
    if f == nil then fail ("cannot open " .. path) end
    local data = f:read ("a")
    f:close ()

    local frames, channels, pos = string.unpack ("<i4i4", data)
    local total = frames * channels
    local shmem = proc:to_plugininsert ():plugin (0):to_luaproc ():shmem ()
    shmem:allocate (2 + total)
    local samples = shmem:to_float (0):array ()

    local chunk = 1024
    local format = "<" .. string.rep ("f", chunk)
    local index = 3
    local last = total + 2
    while index + chunk - 1 <= last do
        local values = { string.unpack (format, data, pos) }
        for k = 1, chunk do samples[index + k - 1] = values[k] end
        pos = values[chunk + 1]
        index = index + chunk
    end
    while index <= last do
        local value
        value, pos = string.unpack ("<f", data, pos)
        samples[index] = value
        index = index + 1
    end

    local header = shmem:to_int (0):array ()
    header[1] = frames
    header[2] = channels
    return frames
end

local function new_player ()
    local proc = ARDOUR.LuaAPI.new_luaproc (Session, "Morvik Test Player")
    if proc:isnil () then fail ("the player processor is missing (player.lua not in the script path)") end
    return proc
end

-- Output connections are made by hand (see below), never by Ardour's auto-connect thread, which
-- would connect a new track to the master bus at some later moment.
-- front () refers into the returned list, so the lists are kept for the whole run.
local track_lists = {}
local function new_track (name)
    local list = Session:new_audio_track (2, 2, nil, 1, name, ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, false)
    if list:size () ~= 1 then fail ("could not add a track") end
    track_lists[#track_lists + 1] = list
    return list:front ()
end

local function connect_outputs (track, io)
    for c = 0, 1 do
        local from = track:output ():audio (c)
        local to = io:audio (c)
        if from:isnil () or to:isnil () then fail ("port " .. c .. " of " .. io:name () .. " is missing") end
        if track:output ():connect (from, to:name (), nil) ~= 0 then fail ("could not connect to " .. io:name ()) end
    end
end

-- Settings, by the label the host shows.
local function apply_settings (proc, path)
    local wanted = {}
    local f = io.open (path, "r")
    if f ~= nil then
        for line in f:lines () do
            local label, value = line:match ("^(.-)\t(.*)$")
            if label ~= nil then wanted[label] = tonumber (value) end
        end
        f:close ()
    end

    local automatable = proc:to_automatable ()
    local found = {}
    for _, parameter in ipairs (automatable:all_automatable_params ():table ()) do
        local control = automatable:automation_control (parameter, false)
        if not control:isnil () then
            local label = control:desc ().label
            if wanted[label] ~= nil then
                control:set_value (wanted[label], PBD.GroupControlDisposition.NoGroup)
                found[label] = true
                say ("SET " .. label .. " = " .. tostring (wanted[label]) .. " (reads " .. tostring (control:get_value ()) .. ")")
            end
        end
    end

    for label, _ in pairs (wanted) do
        if not found[label] then fail ("the plug-in has no parameter labelled " .. label) end
    end
end

AudioEngine:set_backend ("None (Dummy)", "", "")
ARDOUR.config ():set_output_auto_connect (ARDOUR.AutoConnectOption.ManualConnect)
local rate = tonumber (env ("MORVIK_RATE", "48000"))
local session = create_session (env ("MORVIK_SESSION"), "render", rate)
if session == nil or Session == nil then
    print ("RENDER-ERROR: could not create the session")
    os.exit (3)
end

local kind = env ("MORVIK_FORMAT") == "VST3" and ARDOUR.PluginType.VST3 or ARDOUR.PluginType.LV2
local plugin = ARDOUR.LuaAPI.new_plugin (Session, env ("MORVIK_PLUGIN_ID"), kind, "")
if plugin:isnil () then fail ("Ardour could not load " .. env ("MORVIK_PLUGIN_ID")) end

local track = new_track ("Main")
connect_outputs (track, Session:master_out ():input ())
if track:add_processor_by_index (plugin, 0, nil, true) ~= 0 then fail ("could not insert the plug-in") end
say ("STEP plug-in inserted")

-- The player goes in front of the plug-in; fill it before inserting it.
local player = new_player ()
local frames = fill_player (player, env ("MORVIK_INPUT"))
if track:add_processor_by_index (player, 0, nil, true) ~= 0 then fail ("could not insert the player") end
say ("STEP player inserted, " .. frames .. " frames")

local sidechain_path = os.getenv ("MORVIK_SIDECHAIN")
if sidechain_path ~= nil and sidechain_path ~= "" then
    -- A second track plays the key signal into the plug-in's side-chain input.
    if not track:add_sidechain (plugin) then fail ("could not add a side-chain to the plug-in") end
    local sidechain = plugin:to_plugininsert ():sidechain_input ()
    if sidechain:isnil () then fail ("the plug-in has no side-chain input") end
    say ("STEP side-chain input " .. sidechain:name ())

    -- The key track feeds only the side-chain, not the master bus.
    local key_track = new_track ("Key")
    connect_outputs (key_track, sidechain)
    say ("STEP key track connected")

    local key_player = new_player ()
    fill_player (key_player, sidechain_path)
    if key_track:add_processor_by_index (key_player, 0, nil, true) ~= 0 then fail ("could not insert the key player") end
    say ("STEP key player inserted")
    say ("SIDECHAIN connected to " .. sidechain:name ())
end

apply_settings (plugin, env ("MORVIK_SETTINGS"))

-- The render: from the session start, as many samples as the input has, plus the plug-in's
-- latency, which Ardour does not compensate for a player that is a processor.
local latency = plugin:signal_latency ()
Session:request_locate (0, false, ARDOUR.LocateTransportDisposition.MustStop, ARDOUR.TransportRequestSource.TRS_UI)

local export = Session:simple_export ()
export:set_name (env ("MORVIK_EXPORT_NAME"))
export:set_folder (env ("MORVIK_EXPORT_DIR"))
export:set_range (0, frames + latency)
if not export:set_preset (env ("MORVIK_PRESET")) then fail ("the export preset was not found") end
if not export:check_outputs () then fail ("nothing to export") end
say ("STEP exporting " .. (frames + latency) .. " frames")
if not export:run_export () then fail ("the export failed") end
say ("STEP export returned")

-- run_export returns when the export reports that it has finished; the engine thread then closes
-- the file. Give it time to do so, and then leave without tearing anything down: Ardour 7.3
-- corrupts its heap when the export object is destroyed (seen with several JUCE-built plug-ins,
-- a trivial gain included), and nothing after this point matters for the render.
ARDOUR.LuaAPI.usleep (300000)
say ("RENDERED " .. frames .. " frames, latency " .. latency)
io.stdout:flush ()
os.exit (0, false)
