# CTD logger on the extended command set: temperature, a conductivity channel reported as "S"
# (it carries the conductivity correction of table 0600; RS command flags 0x108) and pressure.
# Its calibration list holds four records, newest first; the third (record 2) is an
# unfinished calibration ("CMM").
model = NMK-7400
firmware = 6.20
serial = 72210
baud = 19200
channels = TSP
channel_bytes = 0 0 1
latency_ms = 300
reading_time_ms = 200
param_block = 48
cap.0 = 0x000074B5
cap.1 = 4
cap.3 = 48
cap.5 = 0x14
cap.6 = 1
cap.8 = 0x108
cap.13 = 0x1801C200
cap.15 = 2
min_host_version = 6.00
cal_date = 260402110000
cal.0 = 0.00350 -0.000250 2.70e-06 2.30e-08
cal.1 = -0.05 74.8 0.6 0
cal.2 = -10.13 1010.2 0.3 0
cal_history = 3
cal_incomplete = 2
correction = 0.0191 0.00021 20 -1.2e-7
start = 260410000000
end = 260510000000
period = 000100
status = 0
seed = 7402
depth = 15
