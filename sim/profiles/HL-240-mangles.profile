# A micro-salinometer whose standardization writes do not take: every write of table 0600 is
# acknowledged but stores a batch label other than the one sent, so reading it back differs.
model = HL-240
firmware = 5.20
serial = 82009
baud = 19200
channels = CTC
latency_ms = 200
reading_time_ms = 300
param_block = 30
cap.0 = 0x00007CB7
cap.1 = 3
cap.3 = 30
cap.5 = 0x13
cap.6 = 1
cap.8 = 0x18
cap.13 = 0x1800E100
cap.15 = 1
rs_advanced = 0x00000000
cal_date = 260105100000
cal.0 = -0.012558 1.0465 0 0
cal.1 = 0.00350 -0.000250 2.70e-06 2.30e-08
cal.2 = -0.010 1 0 0
fault.microsal_mangle = -1
status = 0
seed = 242
