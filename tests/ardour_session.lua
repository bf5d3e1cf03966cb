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

local info = ARDOUR.LuaAPI.new_plugin_info(plugin, types[format])
assert(not info:isnil(), "Ardour does not know the plug-in " .. plugin)
local midi, audio = ARDOUR.DataType("midi"), ARDOUR.DataType("audio")
local tracks = Session:new_midi_track(ARDOUR.ChanCount(midi, 1), ARDOUR.ChanCount(audio, 2), true, info, nil, nil, 1,
                                      "synth", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
assert(tracks:size() == 1, "no track")
local track = tracks:front()

-- Ardour connects new tracks to the master bus from another thread; connect now, so the
-- saved session holds the connections.
local out, master = track:output(), Session:master_out():input()
out:disconnect_all(nil)
for c = 0, 1 do assert(out:audio(c):connect(master:audio(c):name()) == 0, "cannot connect") end

local instrument = track:nth_plugin(0):to_insert():plugin(0)
local record = instrument:preset_by_label(preset)
assert(record, "the plug-in has no preset " .. preset)
assert(instrument:load_preset(record), "cannot load the preset " .. preset)
-- A VST3 plug-in takes the program with the next processed block, as a running session
-- would give it.
ARDOUR.LuaAPI.usleep(500000)

Session:save_state("", false, false, false, false, false)
close_session()
