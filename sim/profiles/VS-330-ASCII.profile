# Multi-channel recorder on the extended command set with a generic serial card (channel 3,
# letter "B") that stores its readings as ASCII text: the RS Advanced word reports the generic
# serial card (bit 1) and ASCII data (bit 3), capability entry 23 the card version. Behind the
# 30-byte parameter block the memory holds one text line per reading,
# "yyyy/mm/dd hh:mm:ss" and " %.4f" per channel, each ended by "\r\n".
model = VS-330
firmware = 6.20
serial = 40215
baud = 19200
channels = TPB
latency_ms = 300
reading_time_ms = 200
param_block = 30
# memory type, parameter block length, command level, RS command flags, default/express baud
# rates, generic card version
cap.0 = 0x00401095
cap.1 = 4
cap.3 = 30
cap.5 = 0x04
cap.8 = 0x10
cap.13 = 0x1801C200
cap.23 = 4
rs_advanced = 0x0000000A
ascii = yes
start = 260601000000
end = 260701000000
period = 000500
cal_date = 260210101500
cal.0 = 0.00350 -0.000250 2.70e-06 2.30e-08
cal.1 = -10.2 1012.5 0 0
cal.2 = 0 100 0 0
status = 4
samples = 2000
seed = 335
depth = 20
