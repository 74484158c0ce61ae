# Two-channel depth recorder on the older command set.
model = NMV-7400
firmware = 3.40
serial = 31006
baud = 19200
channels = T
cal_date = 251120080000
cal.0 = 0.0035 -0.00025 2.7e-06 2.3e-08
