# An early NA-7100: no checksum byte behind memory reads, no "BAT" tag on "!D".
model = NA-7100
firmware = 1.40
serial = 4412
baud = 19200
channels = T
cal_date = 240301120000
cal.0 = 0.0035 -0.00025 2.7e-06 2.3e-08
start = 240310000000
end = 240410000000
period = 000500
# Logged data, without a parameter block in front.
status = 4
samples = 600
seed = 140
