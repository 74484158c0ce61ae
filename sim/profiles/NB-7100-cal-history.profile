# Depth recorder, single pressure channel, with three calibration records at 0x10000 (two
# older ones and the current one that "Z" reports).
model = NB-7100
firmware = 3.20
serial = 20519
baud = 19200
channels = P
cal_date = 260210090000
cal.0 = -10.3 1005.5 0.2 0
cal_history = 2
start = 260415000000
end = 260515000000
period = 000200
status = 0
seed = 7102
