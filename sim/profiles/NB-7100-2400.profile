# A depth recorder on a long cable that answers only at 2400 baud: the host's baud walk has to
# wrap from 19200 to 1200 and then 2400 to find it.
model = NB-7100
firmware = 3.20
serial = 20518
baud = 2400
channels = P
cal_date = 250910140000
cal.0 = -10.1 1000.0 0 0
start = 250920000000
end = 251020000000
period = 001000
# A little logged data: a slow line takes long enough.
status = 4
samples = 120
seed = 2400
