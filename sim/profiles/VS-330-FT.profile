# Multi-channel recorder, firmware 4.30, with an auto-ranging Seapoint fluorometer (channel 3)
# and an auto-ranging Seapoint turbidity sensor (channel 4): the configuration block lists
# them with their lower-case letters "f" and "y", the RS command flags report range switching
# (bit 2) and both range-switching tables are set, 26 bytes each. Every reading of the two
# channels carries the gain it was taken with in bits 1 and 2 (3 the most sensitive range):
# blooms and turbid spells every few days move the gains up and down.
model = VS-330
firmware = 4.30
serial = 40214
baud = 19200
channels = TPfy
latency_ms = 300
reading_time_ms = 200
param_block = 30
# memory type, parameter block length, RS command flags, default/express baud rates
cap.0 = 0x00001085
cap.1 = 2
cap.3 = 30
cap.8 = 0x04
cap.13 = 0x1800E100
# Extended channel capabilities: T and P do not switch (bit 1) with range classes 3 and 1,
# the two sensors are class 2.
table.04 = 00 0E 06 08 08 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
# Range switching behaviour: channel 4 reads longest; channel 3 type 5 and channel 4 type 6,
# both in full auto-ranging (mode 0).
table.05 = 04 FF FF 05 06 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF
start = 260601000000
end = 260801000000
period = 001000
cal_date = 260210101500
cal.0 = 0.00350 -0.000250 2.70e-06 2.30e-08
cal.1 = -10.2 1012.5 0 0
cal.2 = -0.2 75 0 0
cal.3 = -1 500 0 0
# Three weeks at ten minutes, stopped.
status = 4
samples = 3000
seed = 334
depth = 15
stamps = STP
