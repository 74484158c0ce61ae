# Multi-channel recorder on the extended command set with a MMC/SD memory card holding five
# logged files, numbers 17 to 21 (the RS Advanced word reports the card, bit 0). The card
# takes 1.5 s to report its size.
model = VS-330
firmware = 6.20
serial = 40320
baud = 19200
channels = TPC
latency_ms = 300
reading_time_ms = 200
param_block = 30
cap.0 = 0x00001095
cap.1 = 4
cap.3 = 30
cap.5 = 0x04
cap.8 = 0x10
cap.13 = 0x1801C200
rs_advanced = 0x00000001
mmc = yes
mmc.size_kb = 1921024
mmc.type = SD 2GB FAT16
mmc.first = 17
mmc.files = 5
mmc.delay_ms = 1500
start = 260601000000
end = 260701000000
period = 000500
status = 0
seed = 341
depth = 20
