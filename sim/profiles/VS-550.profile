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
