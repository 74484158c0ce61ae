#pragma once
// Threshold start, hysteresis, the power-saving check period and the tide-and-wave burst plan:
// the conversions and the automatic corrections made when the user asks for values the logger
// cannot use.
#include <array>
#include <cstdint>
#include <string>

#include "records/coefficients.h"
#include "records/deployment_parameters.h"
#include "records/logger_state.h"
#include "platform/host.h"

namespace klx {

// The engineering value of a raw count on one channel: the thermistor equation for a
// temperature channel, the cubic otherwise.
struct ChannelEquation {
  bool thermistor = false;
  std::array<double, 4> c{};
  double Value(uint32_t raw) const;
};
ChannelEquation EquationOfChannel(const LoggerState& logger,
                                  const CalibrationCoefficients& calibration, int channel);

// The raw limit sent with a threshold, by the range class of the channel's type.
uint32_t ThresholdLimitRaw(uint32_t rangeClass);
uint32_t ThresholdLimitRawOfChannel(const LoggerState& logger, int channel);
// The 24-bit count whose engineering value matches `value`, by successive approximation from
// bit 23 down (a temperature's value falls as the count rises).
uint32_t ThresholdToRaw(const ChannelEquation& eq, double value);
// ceil(value × 100) / 100 and floor(value × 100) / 100, robust against representation error
// (12.35 stays 12.35).
double RoundUpHundredths(double value);
double RoundDownHundredths(double value);

struct ThresholdLimits {
  double minimum = 0.0;
  double maximum = 0.0;
};
ThresholdLimits ThresholdLimitsOf(const ChannelEquation& eq);

enum class ThresholdCheck { Accepted, Replaced, Refused };

// The threshold dialog's value: rounded up to two decimals, checked against the sensor's limits
// (the question replaces it by the limit on Yes), then converted to raw counts. Refused leaves
// the dialog open (the value is not usable as it stands).
ThresholdCheck AcceptThreshold(DeploymentParameters& p, const LoggerState& logger,
                               const CalibrationCoefficients& calibration, Host& host);

// The start-mode code sent in "!A": 0/1 as they are; threshold starts 4 (above) / 5 (below),
// 6 / 7 when tested at the power-saving period. For a temperature channel the sense is
// exchanged in the code only: the stored startMode keeps the user's choice, so a repeated
// enable sends the same code.
uint8_t ThresholdStartCode(const DeploymentParameters& p, const LoggerState& logger);
// Fills p.thresholdBlock (the "!A" bytes) from the mode block.
void BuildThresholdBlock(DeploymentParameters& p, const LoggerState& logger);
// The hysteresis count sent in "!H".
uint16_t HysteresisCount(const DeploymentParameters& p);

// Corrections. Each returns true when it changed the value (the message has been shown).
bool CheckHysteresis(DeploymentParameters& p, Host& host);
bool CheckPowerSavePeriod(DeploymentParameters& p, const LoggerState& logger, Host& host);
// The "Let me choose" power-saving choice: a zero period proposes the sample period.
void ChoosePowerSavePeriod(DeploymentParameters& p, const Period& picked);

// Keeps the tide period and the burst interval consistent with the burst (step +1/-1 from the
// spin control, 1000 to keep the ratio, 0 to re-check). Returns true when the tide period was
// changed.
bool FitTidePeriodToBurst(DeploymentParameters& p, Period& burstInterval, Period& tidePeriod,
                          int step, Host& host);

// The setup dialog's threshold and burst buttons.
std::string ThresholdSummary(const DeploymentParameters& p, const LoggerState& logger);
std::string BurstSummary(const DeploymentParameters& p);

}  // namespace klx
