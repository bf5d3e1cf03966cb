-- Creates an Ardour session with one MIDI track through a plug-in on a program of its
-- presets, and saves it; the test then puts a MIDI region on the track and exports it.
--   ardour7-lua ardour_session.lua FOLDER NAME FORMAT PLUGIN PRESET
-- FORMAT is vst, vst3 or lv2; the engine is Ardour's dummy backend at 48 kHz.
local folder, name, format, plugin, preset = arg[1], arg[2], arg[3], arg[4], arg[5]
local types = { vst = ARDOUR.PluginType.LXVST, vst3 = ARDOUR.PluginType.VST3, lv2 = ARDOUR.PluginType.LV2 }

local backend = AudioEngine:set_backend("None (Dummy)", "", "")
assert(backend, "no dummy backend")
backend:set_sample_rate(48000)
assert(AudioEngine:start(false) == 0, "the engine did not start")
assert(create_session(folder, name, 48000), "no session")

-- The track is made first and the instrument added to it: made with the instrument, the
-- track now and then fails to register its outputs ("Port already exists").
local midi, audio = ARDOUR.DataType("midi"), ARDOUR.DataType("audio")
local outputs = ARDOUR.ChanCount(audio, 2)
outputs:set(midi, 1)
local tracks = Session:new_midi_track(ARDOUR.ChanCount(midi, 1), outputs, true,
                                      ARDOUR.PluginInfo(), nil, nil, 1, "synth", ARDOUR.PresentationInfo.max_order,
                                      ARDOUR.TrackMode.Normal, true)
assert(tracks:size() == 1, "no track")
local track = tracks:front()
ARDOUR.LuaAPI.usleep(500000)  -- Ardour connects the new track from another thread meanwhile
local instrument = ARDOUR.LuaAPI.new_plugin(Session, plugin, types[format], "")
assert(not instrument:isnil(), "Ardour does not know the plug-in " .. plugin)
assert(track:add_processor_by_index(instrument, 0, nil, true), "the plug-in does not go on the track")

-- Ardour connects new tracks to the master bus from another thread; connect now, so the
-- saved session holds the connections.
local out, master = track:output(), Session:master_out():input()
out:disconnect_all(nil)
for c = 0, 1 do assert(out:audio(c):connect(master:audio(c):name()) == 0, "cannot connect") end

local loaded = track:nth_plugin(0):to_insert():plugin(0)
local record = loaded:preset_by_label(preset)
assert(record, "the plug-in has no preset " .. preset)
assert(loaded:load_preset(record), "cannot load the preset " .. preset)
-- A VST3 plug-in takes the program with the next processed block, as a running session
-- would give it.
ARDOUR.LuaAPI.usleep(500000)

Session:save_state("", false, false, false, false, false)
close_session()
