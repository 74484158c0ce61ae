# Multi-channel recorder, firmware 4.30: answers capability entries (above 4.25), keeps its
# configuration block at 0x1FFC9 and its calibration records at 0x10000.
model = VS-330
firmware = 4.30
serial = 40211
baud = 19200
channels = TPC
latency_ms = 300
reading_time_ms = 200
param_block = 30
# memory type, parameter block length, default/express baud rates
cap.0 = 0x00001005
cap.1 = 2
cap.3 = 30
cap.13 = 0x1800E100
start = 260601000000
end = 260801000000
period = 000500
cal_date = 260210101500
cal.0 = 0.00350 -0.000250 2.70e-06 2.30e-08
cal.1 = -10.2 1012.5 0 0
cal.2 = 0 72300 100 0
# Logged data: two weeks at 5 minutes, a recovery stamp, stopped at the end.
status = 4
samples = 4000
seed = 330
depth = 18
stamps = REC:2500 STP
