# Depth recorder, single pressure channel, not yet calibrated ("Z" answers "CAL\r\n").
model = NB-7100
firmware = 3.20
serial = 20517
baud = 19200
channels = P
start = 260415000000
end = 260515000000
period = 000200
# Logged data, read with the default calibration (not calibrated yet).
status = 4
samples = 3000
seed = 7101
depth = 8
stamps = STP
