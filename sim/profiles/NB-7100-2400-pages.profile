# A depth recorder that answers only at 2400 baud (120-byte blocks), with about 180 KB of
# readings over the page ends at 0x2FFFF and 0x3FFFF and a recovery stamp on the way.
model = NB-7100
firmware = 3.20
serial = 20520
baud = 2400
channels = P
cal_date = 250910140000
cal.0 = -10.1 1000.0 0 0
start = 250601000000
end = 260601000000
period = 000500
status = 4
samples = 60000
seed = 2401
depth = 45
stamps = REC:30000 STP
