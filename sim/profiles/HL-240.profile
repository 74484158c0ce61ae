# Micro-salinometer on the extended command set: channel 0 the sample cell (C), channel 1 the
# bath temperature (T), channel 2 the standard cell (C); the sample/standard ratio Rt is
# channel 0 / channel 2. RS command flags bit 3 (micro-salinometer mode) and bit 4 (table 0700);
# 6 Hz profiling (capability 0 bit 1) set through "!1"; the external data connector (bit 11)
# carries the real-time records.
model = HL-240
firmware = 5.20
serial = 82001
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
# Standardized: the sample channel c0 = -alpha * Vsample(0), c1 = alpha; the standard channel
# c0 = -Vstandard(0), c1 = 1 (Vsample(0) = 0.012, alpha = 1.0465, Vstandard(0) = 0.010).
cal_date = 260105100000
cal.0 = -0.012558 1.0465 0 0
cal.1 = 0.00350 -0.000250 2.70e-06 2.30e-08
cal.2 = -0.010 1 0 0
# The cells: a sample of Rt 0.9995 (salinity about 34.98) against Standard Seawater batch P165
# (K15 0.99993) in a 24 degree bath; table 0600 holds that standardization.
microsal.rt = 0.9995
microsal.k15 = 0.99993
microsal.batch = P165
microsal.bath = 24.0
start = 260110080000
end = 260210080000
period = 000030
# Logged data: a day at 30 seconds.
status = 4
samples = 3000
seed = 240
stamps = STP
