# Multi-channel profiler with the waves capability: four channels, calibrated, tide every two
# minutes and a 1024-sample burst at 4 Hz of the pressure channel every hour, in 15 dbar of
# water, 1 m above the bed, under an 8 s swell.
model = VS-550
firmware = 4.40
serial = 55121
baud = 19200
channels = TPCT
latency_ms = 250
reading_time_ms = 100
cap.0 = 0x00031007
cap.1 = 2
cap.3 = 30
cap.13 = 0x1800E100
cal_date = 260320153000
cal.0 = 0.00350 -0.000250 2.70e-06 2.30e-08
cal.1 = -10.13 1010.2 0.3 0
cal.2 = 0 80000 0 0
cal.3 = 0.00350 -0.000250 2.70e-06 2.30e-08
start = 260512093000
end = 260612093000
period = 000200
status = 4
samples = 720
seed = 5501
depth = 15
burst_length = 1024
burst_interval = 010000
wave_rate = 4
wave_period = 8
wave_amplitude = 0.5
height = 1.0
stamps = STP
