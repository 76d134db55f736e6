-- A headless Ardour session (Dummy backend) with two mono tracks fed from the same generated
-- input: one runs the VST 3 plug-in, the other the VST 2.4 plug-in, each followed by a tap that
-- keeps the plug-in's two outputs (zelko_tap.lua). The plug-ins are added while the engine stands
-- still, so that they mostly start on the same cycle; then the taps hold the same samples exactly
-- when the two formats render alike. Prints the figures run_ardour.sh reads (a run whose plug-ins
-- started a cycle apart differs everywhere, and run_ardour.sh runs the session again).
--
-- Arguments (after the script): the session folder.
local folder = arg[1] or "/tmp/zelko-ardour-session"

local backend = AudioEngine:set_backend ("None (Dummy)", "", "")
assert (backend, "no Dummy backend")
backend:set_device_name ("Uniform White Noise")
assert (AudioEngine:start (false) == 0, "the engine does not start")
local session = create_session (folder, "zelko", 48000)
assert (session, "no session")

-- The VST 3 class is "Comb Stereo Processor"; the VST 2.4 module names itself by its processor.
local function find (kind, name)
	for info in ARDOUR.LuaAPI.list_plugins ():iter () do
		if info.type == kind and info.name:find (name, 1, true) ~= nil then return info end
	end
	return nil
end
-- The engine's first start reads the plug-in caches the scanners wrote; that can take a moment.
local vst3, vst2
for attempt = 1, 100 do
	vst3 = find (ARDOUR.PluginType.VST3, "Comb Stereo Processor")
	vst2 = find (ARDOUR.PluginType.LXVST, "Tavrel")
	if vst3 and vst2 then break end
	ARDOUR.LuaAPI.usleep (100000)
end
print ("FOUND vst3", vst3 ~= nil, "vst2", vst2 ~= nil)
assert (vst3 and vst2, "the plug-ins were not found")

-- The tracks and their input connections are made while the engine runs; the engine then stands
-- still while the plug-ins are added, so that both start on the same cycle with the same input.
local tracks = {}
for _, info in ipairs ({ vst3, vst2 }) do
	local list = Session:new_audio_track (1, 2, nil, 1, info.name, ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
	local track = list:front ()
	track:monitoring_control ():set_value (ARDOUR.MonitorChoice.MonitorInput, PBD.GroupControlDisposition.NoGroup)
	track:input ():disconnect_all (nil)
	track:input ():audio (0):connect ("system:capture_1")
	tracks[#tracks + 1] = track
end
AudioEngine:stop (false)
-- The stop is carried out by the engine's own thread: wait until it has happened.
for wait = 1, 100 do
	if not AudioEngine:running () then break end
	ARDOUR.LuaAPI.usleep (100000)
end
assert (not AudioEngine:running (), "the engine does not stop")

local taps, inserts = {}, {}
for n, info in ipairs ({ vst3, vst2 }) do
	local plugin = ARDOUR.LuaAPI.new_plugin (Session, info.unique_id, info.type, "")
	assert (not plugin:isnil (), "cannot instantiate " .. info.name)
	assert (tracks[n]:add_processor_by_index (plugin, 0, nil, true) == 0)
	local tap = ARDOUR.LuaAPI.new_luaproc (Session, "Zelko Test Tap")
	assert (not tap:isnil (), "no tap")
	assert (tracks[n]:add_processor_by_index (tap, 1, nil, true) == 0)
	inserts[n] = plugin
	taps[n] = tap:to_insert ():plugin (0):to_luaproc ():shmem ()
end

assert (AudioEngine:start (false) == 0, "the engine does not restart")
-- Two seconds of input, and a margin.
for wait = 1, 100 do
	if taps[1]:to_int (0):array ()[1] >= 96000 and taps[2]:to_int (0):array ()[1] >= 96000 then break end
	ARDOUR.LuaAPI.usleep (100000)
end

for n, info in ipairs ({ vst3, vst2 }) do
	print ("LATENCY", info.type == ARDOUR.PluginType.VST3 and "vst3" or "vst2", inserts[n]:signal_latency (), tracks[n]:signal_latency ())
end

local capacity = 96000
local keptA = taps[1]:to_int (0):array ()[1]
local keptB = taps[2]:to_int (0):array ()[1]
print ("KEPT", keptA, keptB)
local a = taps[1]:to_float (1):array ()
local b = taps[2]:to_float (1):array ()
local differences, nonzero = 0, 0
for i = 1, 2 * capacity do
	if a[i] ~= b[i] then differences = differences + 1 end
	if a[i] ~= 0 then nonzero = nonzero + 1 end
end
print ("COMPARED", 2 * capacity, "DIFFERENT", differences, "NONZERO", nonzero)
Session:save_state ("", false, false, false, false, false)
close_session ()
