# A depth recorder on a very long cable that answers only at 1200 baud, with about 150 KB of
# readings: they run over the last byte of two 64 KiB pages (0x2FFFF and 0x3FFFF), which hold
# no data, while the blocks at this rate are only 60 bytes long.
model = NB-7100
firmware = 3.20
serial = 20519
baud = 1200
channels = P
cal_date = 250910140000
cal.0 = -10.1 1000.0 0 0
start = 250601000000
end = 260601000000
period = 000500
status = 4
samples = 50000
seed = 1200
depth = 30
