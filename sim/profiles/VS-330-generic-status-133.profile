# The version 4 generic serial card of VS-330-generic with a fault: after a table send or a
# configuration the card reports status 133 to every status query.
model = VS-330
firmware = 6.20
serial = 40311
baud = 19200
channels = TPB
latency_ms = 300
reading_time_ms = 200
param_block = 30
cap.0 = 0x00401295
cap.1 = 4
cap.3 = 30
cap.5 = 0x04
cap.8 = 0x10
cap.13 = 0x1801C200
cap.23 = 4
rs_advanced = 0x00000002
meta_table = SENSOR=\x93CTD-90\x94\r\nBAUD=9600\r\nPOLL=S\r\nWAIT=500\r\n
card_step_ms = 700
start = 260601000000
end = 260701000000
period = 000500
status = 0
seed = 340
depth = 20
fault.card_status_133 = -1
