# A depth recorder that answers only at 4800 baud (240-byte blocks), with about 1 MB of
# readings: over fourteen page ends and the end of the first 1 MiB region (0xFF7FE to 0xFFFFF
# hold no data) into the second region.
model = NB-7100
firmware = 3.20
serial = 20521
baud = 4800
channels = P
cal_date = 250910140000
cal.0 = -10.1 1000.0 0 0
start = 240601000000
end = 270601000000
period = 000200
status = 4
samples = 340000
seed = 4800
depth = 60
