-- Renders a file through a plug-in in a headless Ardour session (ardour7-lua, Dummy backend).
-- Driven by render.sh, which prepares the inputs and passes everything through the environment:
--   MORVIK_SCRIPT_DIR  folder of these scripts
--   MORVIK_SESSION     folder for the new session, or of the session to open
--   MORVIK_OPEN        1: use the saved session in MORVIK_SESSION instead of a new one
--   MORVIK_SAVE        1: instead of rendering, apply the settings (new sessions only), print every
--                      parameter's value ("VALUE <MORVIK_TAG> <label> <value>") and save the session
--   MORVIK_RATE        session sample rate
--   MORVIK_FORMAT      LV2 or VST3
--   MORVIK_PLUGIN_ID   LV2 URI or VST3 class UID
--   MORVIK_INPUT       raw input (see player.lua for the layout)
--   MORVIK_SIDECHAIN   raw side-chain input (optional; VST3 side-chain bus)
--   MORVIK_SETTINGS    file of "label<TAB>value" lines (VST3 values normalised, LV2 in plain units)
--   MORVIK_EXPORT_DIR  folder for the exported WAV
--   MORVIK_EXPORT_NAME name of the export (the file name is derived from it)
--   MORVIK_PRESET      UUID of the float WAV export preset

dofile (os.getenv ("MORVIK_SCRIPT_DIR") .. "/common.lua")

-- Every parameter's value as Ardour reads it, one line each, exact to the last bit.
local function print_values (tag, proc)
    local automatable = proc:to_automatable ()
    for _, parameter in ipairs (automatable:all_automatable_params ():table ()) do
        local control = automatable:automation_control (parameter, false)
        if not control:isnil () then
            print (string.format ("VALUE %s %s %.17g", tag, control:desc ().label, control:get_value ()))
        end
    end
    io.stdout:flush ()
end

-- The plug-in on the track "Main" of an opened session: its first plug-in (saved sessions hold no player).
local function open_session (folder)
    if load_session (folder, "render") == nil or Session == nil then fail ("could not open the session in " .. folder) end
    local route = Session:route_by_name ("Main")
    if route:isnil () then fail ("the session has no track Main") end
    local proc = route:nth_plugin (0)
    if proc:isnil () then fail ("the track Main holds no plug-in") end
    return route:to_track (), proc
end

AudioEngine:set_backend ("None (Dummy)", "", "")
ARDOUR.config ():set_output_auto_connect (ARDOUR.AutoConnectOption.ManualConnect)
local rate = tonumber (env ("MORVIK_RATE", "48000"))
local folder = env ("MORVIK_SESSION")
local track, plugin

if os.getenv ("MORVIK_OPEN") == "1" then
    track, plugin = open_session (folder)
    say ("STEP session opened")
    if os.getenv ("MORVIK_SAVE") ~= "1" then print_values ("opened", plugin) end
else
    local session = create_session (folder, "render", rate)
    if session == nil or Session == nil then
        print ("RENDER-ERROR: could not create the session")
        os.exit (3)
    end

    local kind = env ("MORVIK_FORMAT") == "VST3" and ARDOUR.PluginType.VST3 or ARDOUR.PluginType.LV2
    plugin = ARDOUR.LuaAPI.new_plugin (Session, env ("MORVIK_PLUGIN_ID"), kind, "")
    if plugin:isnil () then fail ("Ardour could not load " .. env ("MORVIK_PLUGIN_ID")) end

    track = new_track ("Main")
    connect_outputs (track, Session:master_out ():input ())
    if track:add_processor_by_index (plugin, 0, nil, true) ~= 0 then fail ("could not insert the plug-in") end
    say ("STEP plug-in inserted")
end

-- Save: a new session takes the settings first; the values are printed as they are saved.
if os.getenv ("MORVIK_SAVE") == "1" then
    if os.getenv ("MORVIK_OPEN") ~= "1" then
        apply_settings (plugin, env ("MORVIK_SETTINGS"))
        -- LV2 values reach the plug-in as messages with the next processed cycles; a second is many
        -- cycles even on a busy machine.
        ARDOUR.LuaAPI.usleep (1000000)
    end
    print_values (env ("MORVIK_TAG", "saved"), plugin)
    Session:save_state ("", false, false, false, false, false)
    print ("SAVED")
    io.stdout:flush ()
    os.exit (0, false)
end

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
