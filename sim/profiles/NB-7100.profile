# Depth recorder, single pressure channel, not yet calibrated ("Z" answers "CAL\r\n").
model = NB-7100
firmware = 3.20
serial = 20517
baud = 19200
channels = P
