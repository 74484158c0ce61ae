#pragma once
// The logger's instant-reading reply as text for the fetch dialog (
// `FormatInstantReading`).
#include <string>
#include <string_view>

namespace klx {

struct DataSet;

// reply: the bytes of the instant-reading reply. context: the connected logger's description
// (logger with channel count, letters and engineering-units level, calibration, extended
// capabilities). engineeringOutput: bit 2 of the deployment's start characteristic (startFlags),
// with which a logger of engineering-units level 1 or more reports its values as text.
//
// Text replies: "This logger is not calibrated", or per channel its label and "\t%s\n" with the
// reported word, or "Unable to read data from logger". Binary replies: "TIM" within the first 12
// bytes, six time bytes, three bytes per channel and a check byte that makes
// 234 + the signed bytes (modulo 256) equal to it; per channel, with labels, its label, then the
// value as "\t%9.4f\n". A missing "TIM" gives "Unable to read data from logger", a bad check byte
// "Checksum of data incorrect".
// Implementer's choice: a binary reply too short to hold the time, the channels and the check
// byte gives "Unable to read data from logger" (nothing is read beyond the reply).
std::string FormatInstantReading(std::string_view reply, bool withLabels, const DataSet& context,
                                 bool engineeringOutput);

}  // namespace klx
