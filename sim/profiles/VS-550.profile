# Multi-channel profiler with 6 Hz profiling, four channels, not yet calibrated.
model = VS-550
firmware = 4.40
serial = 55120
baud = 19200
channels = TPCT
latency_ms = 250
reading_time_ms = 100
cap.0 = 0x00001007
cap.1 = 2
cap.3 = 30
cap.13 = 0x1800E100
# Logged data: a ten-minute 6 Hz profiling cast (calibration defaults in the readings).
start = 260512093000
end = 260512120000
status = 4
profiling = yes
samples = 3600
seed = 550
depth = 35
stamps = STP
