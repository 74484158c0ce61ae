# Tide-and-wave recorder on the extended command set: configuration and baud tables, RS
# Advanced table, waves and 1/2/4 Hz sampling, 48-byte parameter block.
model = NMJ-7400
firmware = 6.10
serial = 71342
baud = 19200
channels = TP
channel_bytes = 0 1
latency_ms = 300
reading_time_ms = 200
param_block = 48
cap.0 = 0x000374B5
cap.1 = 4
cap.3 = 48
cap.5 = 0x14
cap.6 = 1
cap.8 = 0x10
cap.13 = 0x1801C200
cap.15 = 2
rs_advanced = 0x00000000
min_host_version = 6.00
cal_date = 260320153000
cal.0 = 0.00350 -0.000250 2.70e-06 2.30e-08
cal.1 = -10.13 1010.2 0.3 0
start = 260401000000
end = 260601000000
period = 000100
# Logged data: tide every minute and a 512-sample wave burst at 2 Hz every three hours; the
# logger stands 1.2 m above the bed and every burst sees an 8 s swell of about 0.4 m amplitude.
status = 4
samples = 4000
seed = 7401
depth = 12
burst_length = 512
burst_interval = 030000
wave_rate = 2
wave_period = 8
wave_amplitude = 0.4
height = 1.2
stamps = STP
