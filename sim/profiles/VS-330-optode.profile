# Multi-channel recorder on the extended command set (a linear-memory logger) with an Optode
# oxygen sensor behind channel 3, letter "K" (saturation); its front end answers the "~"
# packets of through mode (capability mask bit 9) at address 3. A configuration script can
# switch it to concentration (letter "J").
model = VS-330
firmware = 6.20
serial = 40330
baud = 19200
channels = TPK
latency_ms = 300
reading_time_ms = 200
param_block = 30
cap.0 = 0x00001295
cap.1 = 4
cap.3 = 30
cap.5 = 0x04
cap.8 = 0x10
cap.13 = 0x1801C200
rs_advanced = 0x00000000
cal_date = 260210101500
cal.0 = 0.00350 -0.000250 2.70e-06 2.30e-08
cal.1 = -10.2 1012.5 0 0
cal.2 = 0 125 0 0
start = 260601000000
end = 260701000000
period = 000500
status = 0
seed = 342
depth = 20
