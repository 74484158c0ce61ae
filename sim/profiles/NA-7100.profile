# First-generation temperature recorder: one thermistor channel, older single-channel command
# set ("Z" calibration replies, "F" without a channel number, "!E00"/"!E01").
model = NA-7100
firmware = 2.20
serial = 10234
baud = 19200
channels = T
start = 260601000000
end = 260701000000
period = 000100
cal_date = 260115093000
cal.0 = 0.00349 -0.000251 2.69e-06 2.31e-08
# Logged data: two days at one minute, a cold start after a battery change, stopped.
status = 4
samples = 3000
seed = 7100
stamps = CLD:1800 STP
