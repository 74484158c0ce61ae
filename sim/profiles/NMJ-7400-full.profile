# Tide-and-wave recorder on the extended command set whose 8 MB memory is full: the parameter
# block, the "TIM" stamp and whole rows of tide and temperature fill it to its last data byte
# (the data pointer reads 0x7FE000), so the last retrieval block ends on the memory's end.
model = NMJ-7400
firmware = 6.10
serial = 71343
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
cal_date = 230320153000
cal.0 = 0.00350 -0.000250 2.70e-06 2.30e-08
cal.1 = -10.13 1010.2 0.3 0
start = 240101000000
end = 270101000000
period = 000100
status = 4
# 48 + 12 + 1 396 726 rows of 6 bytes = 0x7FE000: nothing more fits, not even a stop stamp.
fill = 1
seed = 7402
depth = 12
