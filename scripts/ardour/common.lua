-- Helpers shared by the headless Ardour scripts (render.lua), loaded with dofile.

function env (name, default)
    local value = os.getenv (name)
    if value == nil or value == "" then
        if default ~= nil then return default end
        error ("missing environment variable " .. name)
    end
    return value
end

-- Progress goes to stderr unbuffered, so a stuck step shows in the log.
function say (message)
    io.stderr:write (message .. "\n")
    io.stderr:flush ()
end

function fail (message)
    say ("RENDER-ERROR: " .. message)
    close_session ()
    os.exit (3)
end

-- Reads a raw file into a player's shared memory; returns its frame count.
function fill_player (proc, path)
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

function new_player ()
    local proc = ARDOUR.LuaAPI.new_luaproc (Session, "Morvik Test Player")
    if proc:isnil () then fail ("the player processor is missing (player.lua not in the script path)") end
    return proc
end

-- Output connections are made by hand (see below), never by Ardour's auto-connect thread, which
-- would connect a new track to the master bus at some later moment.
-- front () refers into the returned list, so the lists are kept for the whole run.
local track_lists = {}
function new_track (name)
    local list = Session:new_audio_track (2, 2, nil, 1, name, ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, false)
    if list:size () ~= 1 then fail ("could not add a track") end
    track_lists[#track_lists + 1] = list
    return list:front ()
end

function connect_outputs (track, io)
    for c = 0, 1 do
        local from = track:output ():audio (c)
        local to = io:audio (c)
        if from:isnil () or to:isnil () then fail ("port " .. c .. " of " .. io:name () .. " is missing") end
        if track:output ():connect (from, to:name (), nil) ~= 0 then fail ("could not connect to " .. io:name ()) end
    end
end

-- Settings, by the label the host shows.
function apply_settings (proc, path)
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

