// NMEA sentences from the GPS port.
#include "realtime/gps.h"

#include <gtest/gtest.h>

namespace klx {
namespace {

const std::string kGga = "$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";

TEST(Gps, FixesGiveThePositionTextAndBadOrPartSentencesKeepTheLast) {
  GpsReader gps;
  gps.Append(kGga);
  ASSERT_TRUE(gps.Parse());
  EXPECT_EQ(gps.text + gps.sentenceType, " 4807.04,N,1131.00,EGGA");
  gps.Append("$GPGLL,3723.2475,S,12158.3416,W,161229.487,A*2C\r\n");
  ASSERT_TRUE(gps.Parse());
  EXPECT_EQ(gps.text + gps.sentenceType, " 3723.25,S,12158.34,WGLL");
  // No fix (empty fields) and a bad hemisphere letter leave the last position.
  for (const char* bad : {"$GPGGA,123520.00,,,,,0,00,,,M,,M,,*66\r\n",
                          "$GPGLL,0101.500,X,00202.250,W,120000.00,A*00\r\n",
                          "$GPGLL,0101.500,N,00202.250,Q,120000.00,A*00\r\n"}) {
    gps.Append(bad);
    EXPECT_FALSE(gps.Parse()) << bad;
    EXPECT_EQ(gps.text, " 3723.25,S,12158.34,W");
  }
  // Half a sentence waits for its carriage return.
  gps.Append("noise$GPGLL,0101.500,N,00202.250");
  EXPECT_FALSE(gps.Parse());
  gps.Append(",W,120000.00,A*00\r\n");
  ASSERT_TRUE(gps.Parse());
  EXPECT_EQ(gps.text, " 101.50,N,202.25,W");
}

TEST(Gps, AReceiverSendingNeitherGgaNorGllIsReportedAfter256Sentences) {
  GpsReader gps;
  for (int i = 1; i <= GpsReader::kRejectLimit; ++i) {
    EXPECT_FALSE(gps.warn) << i;
    gps.Append("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n");
    EXPECT_FALSE(gps.Parse());
  }
  EXPECT_EQ(gps.rejected, 256);
  EXPECT_TRUE(gps.warn && gps.text.empty());
  gps.Append(kGga);  // a GGA sentence resets the count
  EXPECT_TRUE(gps.Parse());
  EXPECT_EQ(gps.rejected, 0);
}

}  // namespace
}  // namespace klx
