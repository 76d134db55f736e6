-- A headless Ardour session (Dummy backend) with two mono tracks fed the same input, each running
-- the LV2 plug-in followed by a tap that keeps its two outputs (tests/vst3/ardour/zelko_tap.lua).
-- The plug-in of the second track is switched off the way a user bypasses it; Ardour then drives
-- the plug-in's enabled port instead of taking the plug-in out, so the plug-in keeps running and
-- passes its input, delayed by its latency, to both outputs. Prints the figures run_bypass.sh
-- reads.
--
-- Arguments (after the script): the session folder.
local folder = arg[1] or "/tmp/zelko-ardour-lv2"

local backend = AudioEngine:set_backend ("None (Dummy)", "", "")
assert (backend, "no Dummy backend")
backend:set_device_name ("Uniform White Noise")
assert (AudioEngine:start (false) == 0, "the engine does not start")
local session = create_session (folder, "zelko", 48000)
assert (session, "no session")

local lv2
for attempt = 1, 100 do
	for info in ARDOUR.LuaAPI.list_plugins ():iter () do
		if info.type == ARDOUR.PluginType.LV2 and info.unique_id == "urn:zelko:comb-stereo-processor" then lv2 = info end
	end
	if lv2 then break end
	ARDOUR.LuaAPI.usleep (100000)
end
print ("FOUND lv2", lv2 ~= nil)
assert (lv2, "the plug-in was not found")

local taps, inserts = {}, {}
for n = 1, 2 do
	local list = Session:new_audio_track (1, 2, nil, 1, "track" .. n, ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, false)
	local track = list:front ()
	track:monitoring_control ():set_value (ARDOUR.MonitorChoice.MonitorInput, PBD.GroupControlDisposition.NoGroup)
	track:input ():disconnect_all (nil)
	local plugin = ARDOUR.LuaAPI.new_plugin (Session, lv2.unique_id, lv2.type, "")
	assert (not plugin:isnil (), "cannot instantiate the plug-in")
	assert (track:add_processor_by_index (plugin, 0, nil, true) == 0)
	local tap = ARDOUR.LuaAPI.new_luaproc (Session, "Zelko Test Tap")
	assert (not tap:isnil (), "no tap")
	assert (track:add_processor_by_index (tap, 1, nil, true) == 0)
	-- The input only now: until the tap is in place the plug-in hears silence, however many
	-- cycles Ardour takes to insert the two, so the tap's first samples are the plug-in's first
	-- output of the input.
	track:input ():audio (0):connect ("system:capture_1")
	inserts[n] = plugin
	taps[n] = tap:to_insert ():plugin (0):to_luaproc ():shmem ()
end
local pi = inserts[2]:to_insert ()
print ("HAS", pi.enable ~= nil, pi.enabled ~= nil, pi.bypassable ~= nil)
pi:enable (false)
print ("ENABLED", inserts[1]:to_insert ():enabled (), pi:enabled (), "ACTIVE", inserts[2]:active ())

for wait = 1, 100 do
	if taps[1]:to_int (0):array ()[1] >= 96000 and taps[2]:to_int (0):array ()[1] >= 96000 then break end
	ARDOUR.LuaAPI.usleep (100000)
end
for n = 1, 2 do
	print ("LATENCY", n, inserts[n]:signal_latency ())
end

-- Per track: the samples where left and right differ, and those that are not zero.
local capacity = 96000
for n = 1, 2 do
	local kept = taps[n]:to_int (0):array ()[1]
	local samples = taps[n]:to_float (1):array ()
	local differing, nonzero = 0, 0
	for i = 1, kept do
		if samples[i] ~= samples[capacity + i] then differing = differing + 1 end
		if samples[i] ~= 0 then nonzero = nonzero + 1 end
	end
	print ("TRACK", n, "KEPT", kept, "DIFFERING", differing, "NONZERO", nonzero)
end
close_session ()
