ardour {
	["type"]    = "dsp",
	name        = "Zelko Test Tap",
	category    = "Utility",
	license     = "MIT",
	author      = "Zelko tests",
	description = [[Passes two channels through unchanged and keeps a copy of their first samples in its shared memory, for a test session script to read.]]
}

-- Shared memory: slot 0 the samples kept so far (per channel), then each channel in turn.
local capacity = 96000
local channels = 2

function dsp_ioconfig ()
	return { { audio_in = channels, audio_out = channels } }
end

function dsp_init (rate)
	self:shmem ():allocate (1 + channels * capacity)
	self:shmem ():clear ()
end

function dsp_run (ins, outs, n_samples)
	for c = 1, channels do
		if ins[c] ~= outs[c] then
			ARDOUR.DSP.copy_vector (outs[c], ins[c], n_samples)
		end
	end
	local shmem = self:shmem ()
	local kept = shmem:to_int (0):array ()
	local stored = kept[1]
	if stored >= capacity then return end
	local samples = shmem:to_float (1):array ()
	local count = math.min (n_samples, capacity - stored)
	for c = 1, channels do
		local channel = outs[c]:array ()
		local base = (c - 1) * capacity + stored
		for i = 1, count do
			samples[base + i] = channel[i]
		end
	end
	kept[1] = stored + count
end
