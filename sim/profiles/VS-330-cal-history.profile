# Multi-channel recorder whose calibration memory holds five records: four older calibrations
# and the current one (dated cal_date), back to back from offset 0.
model = VS-330
firmware = 4.30
serial = 40377
baud = 19200
channels = TPC
latency_ms = 300
reading_time_ms = 200
param_block = 30
cap.0 = 0x00001005
cap.1 = 2
cap.3 = 30
cap.13 = 0x1800E100
cal_date = 260305141500
cal.0 = 0.00350 -0.000250 2.70e-06 2.30e-08
cal.1 = -10.2 1012.5 0 0
cal.2 = 0 72300 100 0
cal_history = 4
status = 0
seed = 331
