ardour {
	["type"]    = "dsp",
	name        = "Zelko Test Tap",
	category    = "Utility",
	license     = "MIT",
	author      = "Zelko tests",
	description = [[Passes two channels through unchanged and keeps a copy of their first samples in its shared memory, for a test session script to read.]]
}

-- Shared memory: slot 0 the samples kept so far (per channel), then the left channel, then the right.
local capacity = 96000

function dsp_ioconfig ()
	return { { audio_in = 2, audio_out = 2 } }
end

function dsp_init (rate)
	self:shmem ():allocate (1 + 2 * capacity)
	self:shmem ():clear ()
end

function dsp_run (ins, outs, n_samples)
	for c = 1, 2 do
		if ins[c] ~= outs[c] then
			ARDOUR.DSP.copy_vector (outs[c], ins[c], n_samples)
		end
	end
	local shmem = self:shmem ()
	local kept = shmem:to_int (0):array ()
	local stored = kept[1]
	if stored >= capacity then return end
	local samples = shmem:to_float (1):array ()
	local left = outs[1]:array ()
	local right = outs[2]:array ()
	for i = 1, n_samples do
		if stored >= capacity then break end
		samples[1 + stored] = left[i]
		samples[1 + capacity + stored] = right[i]
		stored = stored + 1
	end
	kept[1] = stored
end
