# A VS-330 with auto-ranging turbidity (channel 4, "y") and fluorometer (channel 5, "f")
# channels: the RS command flags report range switching (bit 2) and both range-switching tables
# are set, 26 bytes each, so a host reads the two sensors back as auto-ranging.
# Multi-channel recorder, firmware 4.30: answers capability entries (above 4.25), keeps its
# configuration block at 0x1FFC9 and its calibration records at 0x10000.
model = VS-330-PQ
firmware = 4.30
serial = 40388
baud = 19200
channels = TPCyf
latency_ms = 300
reading_time_ms = 200
param_block = 30
# memory type, parameter block length, RS command flags, default/express baud rates
cap.0 = 0x00001085
cap.1 = 2
cap.3 = 30
cap.8 = 0x04
cap.13 = 0x1800E100
# Extended channel capabilities: T, P and C do not switch (bit 1) with range classes 3, 1 and 1,
# the turbidity (channel 4) and fluorometer (channel 5) sensors are class 2.
table.04 = 00 0E 06 06 08 08 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
# Range switching behaviour: the turbidity channel reads longest; channel 4 type 6 and channel 5
# type 5, both in full auto-ranging (mode 0).
table.05 = 04 FF FF FF 06 05 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF
start = 260601000000
end = 260801000000
period = 000500
cal_date = 260210101500
cal.0 = 0.00350 -0.000250 2.70e-06 2.30e-08
cal.1 = -10.2 1012.5 0 0
cal.2 = 0 72300 100 0
cal.3 = -2.0 520.0 0 0
cal.4 = -0.3 80.0 0 0
# Logged data with auto-ranging turbidity and fluorometry channels (gain codes in bits 1-2).
status = 4
samples = 4000
seed = 330
depth = 18
stamps = REC:2500 STP
