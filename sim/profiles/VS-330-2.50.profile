# An older VS-330 without capability entries.
model = VS-330
firmware = 2.50
serial = 40017
baud = 19200
channels = TP
latency_ms = 300
reading_time_ms = 200
cal_date = 230505110000
cal.0 = 0.0035 -0.00025 2.7e-06 2.3e-08
cal.1 = -10.0 1000.0 0 0
