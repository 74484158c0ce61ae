# Depth recorder on the older command set: its memory holds one pressure channel.
model = NMV-7400
firmware = 3.40
serial = 31006
baud = 19200
channels = T
cal_date = 251120080000
cal.0 = -10.05 1005.0 0.2 0
start = 251201000000
end = 260201000000
period = 000500
# Logged data: ten days at 5 minutes, a warm start after a reset, stopped.
status = 4
samples = 3000
seed = 7400
depth = 22
stamps = WRM:2000 STP
