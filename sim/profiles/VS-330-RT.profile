# Multi-channel recorder, firmware 4.30, with the RS485 real-time output connector: a fresh,
# empty logger ready for a deployment whose samples it also sends as they are logged.
model = VS-330
firmware = 4.30
serial = 40212
baud = 19200
channels = TPC
latency_ms = 300
reading_time_ms = 200
param_block = 30
# memory type, parameter block length, default/express baud rates; 0x800: external connector
cap.0 = 0x00001805
cap.1 = 2
cap.3 = 30
cap.13 = 0x1800E100
cal_date = 260210101500
cal.0 = 0.00350 -0.000250 2.70e-06 2.30e-08
cal.1 = -10.2 1012.5 0 0
cal.2 = 0 72300 100 0
status = 0
samples = 0
seed = 331
depth = 12
