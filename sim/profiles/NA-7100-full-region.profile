# First-generation temperature recorder with 2 MB of memory, full to the end of its second
# 1 MiB region: readings run from 0x20000 over every page and region gap up to 0x1FF7FE, and
# the data pointer stands at 0x200000.
model = NA-7100
firmware = 2.20
serial = 10235
baud = 19200
channels = T
memory_mb = 2
start = 250101000000
end = 270101000000
period = 000100
cal_date = 241115093000
cal.0 = 0.00349 -0.000251 2.69e-06 2.31e-08
status = 4
# 30 + 12 + 653 970 readings of 3 bytes fill the two regions exactly.
fill = 1
seed = 7101
