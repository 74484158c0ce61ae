# Two-channel recorder on the extended command set with modem control, level 1 (capability
# entry 21, mask bit 20): it keeps the modem configuration table 0800, a front porch of 150 ms
# and a back porch of 100 ms (30 and 20 units of 5 ms), active level 1, inactive level 0.
model = NMK-7400
firmware = 6.20
serial = 72230
baud = 19200
channels = TP
channel_bytes = 0 1
latency_ms = 300
reading_time_ms = 200
param_block = 48
cap.0 = 0x001074B5
cap.1 = 4
cap.3 = 48
cap.5 = 0x14
cap.6 = 1
cap.8 = 0x10
cap.13 = 0x1801C200
cap.15 = 2
cap.21 = 1
rs_advanced = 0x00000000
modem.front_porch_ms = 150
modem.back_porch_ms = 100
modem.active_level = 1
modem.inactive_level = 0
start = 260601000000
end = 260701000000
period = 000100
status = 0
seed = 7423
depth = 15
