#include "retrieval/transfer.h"

#include <algorithm>

#include "shell/status.h"

namespace klx {

int BlockSizeForRate(int baudRate) {
  switch (baudRate) {
    case 1200:
      return 60;
    case 2400:
      return 120;
    case 4800:
      return 240;
    case 57600:
    case 115200:
      return 960;
    default:
      return 480;
  }
}

Transfer::Transfer(LoggerLink& logger, MemoryImage& image, Clock& clock)
    : logger_(logger), image_(image), clock_(clock) {}

bool Transfer::SendsNoChecksum() const {
  return logger_.state.ModelHas("NA-") && logger_.state.firmware < 1.5f;
}

bool Transfer::VerifiesChecksum() const {
  const LoggerState& s = logger_.state;
  return (s.ModelHas("NA-") && s.firmware > 1.5f) || s.IsVS() || s.ModelHas("NB") ||
         s.ModelHas("NMV");
}

bool Transfer::SwitchRate(int baudRate) {
  if (logger_.link().currentBaudRate == baudRate && logger_.state.connected) return true;
  return logger_.SetExpressBaud(baudRate);
}

void Transfer::WaitOutLostLink() {
  for (int left = 10; left >= 1; --left) {
    ShowStatus(logger_.host(), Format("Unable to connect to logger, waiting for timeout %d", left));
    clock_.SleepMs(1000);
  }
}

bool Transfer::OfferSpeedUp() {
  SerialLink& link = logger_.link();
  const int express = logger_.state.expressDownloadRate;
  if (express < 1 || link.radioDelay.enabled) {
    state.savedBaudRate = link.currentBaudRate;
    return logger_.state.connected;
  }
  if (link.currentBaudRate < 19200) {
    const Answer a = logger_.host().Ask(
        "Retrieve data - speed-up",
        "The default baudrate is less than the standard rate.\nThis suggests that you are using a "
        "long cable for download.\n\nDo you want to try to increase the download speed?",
        Buttons::YesNo, BoxIcon::Warning, Answer::No);
    if (a != Answer::Yes) {
      state.savedBaudRate = link.currentBaudRate;
      return logger_.state.connected;
    }
  }
  state.savedBaudRate = link.currentBaudRate;
  if (express != link.currentBaudRate) {
    SwitchRate(express);
    if (!logger_.state.connected) {
      link.currentBaudRate = state.savedBaudRate;
      logger_.ConnectLogger();
    }
    if (!logger_.state.connected) {
      WaitOutLostLink();
      link.currentBaudRate = state.savedBaudRate;
      logger_.ConnectLogger();
    }
  }
  if (logger_.state.connected) return true;
  ShowStatus(logger_.host(), "Unable to connect to logger");
  return false;
}

bool Transfer::StartTransfer(uint32_t startAddress) {
  state.failed = false;
  identity_ = logger_.state.Identity();
  if (!OfferSpeedUp()) return false;
  const int rate = logger_.link().currentBaudRate;
  state.blockSize = BlockSizeForRate(rate);
  image_.Reserve();
  if (IsLinear()) {
    image_.nextAddress = startAddress;
    image_.fill = static_cast<int32_t>(startAddress);
    image_.endAddress = std::min<uint32_t>(image_.endAddress, 0x7FE000);
    if (image_.endAddress == 0) return false;
  } else {
    image_.nextAddress = 0x20000;
    image_.fill = 0;
    const uint32_t cap = logger_.state.memorySizeMb == 4 ? 0x3FF7FE : 0x1FF7FE;
    image_.endAddress = std::min(image_.endAddress, cap);
  }
  if (image_.endAddress <= image_.nextAddress) return false;
  state.progress = state.startProgress = 0.0f;
  state.progressStep = state.blockSize * 100.0 / (image_.endAddress - image_.nextAddress);
  state.blocksRequested = 0;
  state.blocksRetransmitted = 0;
  logger_.host().SetProgress(0, 100);
  state.startMs = state.lastBlockMs = clock_.MonotonicMs();
  state.downloading = true;
  remaining_.clear();
  return true;
}

bool Transfer::ResumeTransfer(uint32_t nextAddress, int32_t fill) {
  const uint32_t first = IsLinear() ? 0u : 0x20000u;
  if (nextAddress < first || fill < 0 || !StartTransfer(IsLinear() ? nextAddress : 0)) return false;
  if (!IsLinear()) {
    image_.nextAddress = nextAddress;
    image_.fill = fill;
  }
  if (image_.endAddress <= image_.nextAddress) {
    state.downloading = false;
    return false;
  }
  const double range = image_.endAddress - first;
  state.progressStep = state.blockSize * 100.0 / range;
  state.progress = state.startProgress = static_cast<float>((nextAddress - first) * 100.0 / range);
  logger_.host().SetProgress(static_cast<int>(state.progress), 100);
  return true;
}

int Transfer::TimerPeriodMs() const {
  const int rate = std::max(logger_.link().currentBaudRate, 1);
  return std::max(1, state.blockSize * 10000 / rate);
}

bool Transfer::CheckLinkAlive() {
  const int64_t now = clock_.MonotonicMs();
  const int64_t since = now - state.lastBlockMs;
  state.lastBlockMs = now;
  if (since < 5000) return true;
  bool connected = logger_.ConnectLogger();
  SerialLink& link = logger_.link();
  if (!connected && link.currentBaudRate > 19200) {
    link.currentBaudRate = 19200;
    logger_.state.connected = false;
    connected = logger_.ConnectLogger() && OfferSpeedUp();
  }
  // The block rules (check byte or not) follow the logger's identity: one that answers as
  // another logger after the reconnection (or whose identification came through garbled) is
  // not fetched from under rules it may not follow.
  const auto end = [this](const char* why) {
    state.downloading = false;
    state.failed = true;
    logger_.host().Tell(
        "Retrieve Data",
        Format("Download error.\n%s the retrieval ended after %d bytes.", why, image_.fill),
        BoxIcon::Warning);
    return false;
  };
  if (connected && logger_.state.Identity() != identity_)
    return end("After the link was restored the logger did not identify itself as before;");
  if (connected) return true;
  // The data received so far are decoded and offered like a complete retrieval's: the user
  // must learn that the logger holds more.
  return end("The link to the logger was lost;");
}

void Transfer::UpdateRemaining(uint32_t end) {
  const int rate = logger_.link().currentBaudRate;
  long seconds = 0;
  if (IsLinear()) {
    // Only what arrived in this transfer took the elapsed time: a continuation starts with
    // a share already held.
    const int64_t elapsed = clock_.MonotonicMs() - state.startMs;
    const double done = state.progress - state.startProgress;
    if (elapsed <= 0 || done <= 0.0)
      seconds = 1;
    else
      seconds = static_cast<long>(static_cast<double>(elapsed) * ((100.0 - state.progress) / done) /
                                  1000.0);
  } else if (rate == 115200) {
    seconds = static_cast<long>((image_.endAddress - end) * 0.000125);
  } else {
    seconds = static_cast<long>((image_.endAddress - end) /
                                static_cast<uint32_t>(std::max(rate / 10, 1)));
  }
  remaining_ = seconds > 0 ? Format("Estimated download time remaining %ld:%02ld", seconds / 60,
                                    seconds % 60)
                           : std::string("Estimated download time remaining < 1 second");
}

bool Transfer::FetchNextBlock() {
  if (!state.downloading) return false;
  if (!CheckLinkAlive()) return false;
  const bool noSum = SendsNoChecksum();
  const int sumBytes = noSum ? 0 : 1;
  uint32_t next = image_.nextAddress;
  uint32_t end =
      std::min<uint32_t>(next + static_cast<uint32_t>(state.blockSize), image_.endAddress);
  int count = static_cast<int>(end - next) + sumBytes;

  if (!IsLinear()) {
    // Older loggers leave the last byte of every 64 KiB page and the tail of every 1 MiB region
    // (from offset 0xFF7FE) empty and do not send them. A block that would take in such bytes,
    // whatever its size, is cut at the page or region boundary and asks for the data bytes only.
    const uint32_t region = next & ~0xFFFFFu;
    const uint32_t tail = region + 0xFF7FE;
    const uint32_t pageLast = next | 0xFFFFu;
    int data = static_cast<int>(end - next);
    if (end > tail) {
      end = std::min(region + 0x100000u, image_.endAddress);
      data = next < tail ? static_cast<int>(std::min(end, tail) - next) : 0;
    } else if (end > pageLast) {
      end = pageLast + 1;
      data = static_cast<int>(pageLast - next);
    }
    if (end == image_.endAddress) {
      // The image ends on a whole 3-byte word.
      const int r = std::min(data, (image_.fill + data) % 3);
      if (r > 0) {
        data -= r;
        const uint32_t trimmed = next + static_cast<uint32_t>(data);
        image_.endAddress -= end - trimmed;
        end = trimmed;
      }
    }
    count = data + sumBytes;
  } else if (end == image_.endAddress) {
    // The image ends on a whole 3-byte word.
    if (!noSum && (count - 1) % 3 != 0) {
      const int r = (image_.fill + count - 1) % 3;
      count -= r;
      end -= static_cast<uint32_t>(r);
      image_.endAddress -= static_cast<uint32_t>(r);
    } else if (noSum && count % 3 != 0) {
      const int r = count % 3;
      count -= r;
      end -= static_cast<uint32_t>(r);
      image_.endAddress -= static_cast<uint32_t>(r);
    }
  }

  int received = 0;
  if (count > 2) {
    // Room for the block and the zero byte a read leaves behind it. A logger whose data reach
    // beyond what an image can hold ends the transfer with a message, never as a complete one.
    const size_t dataBytes = static_cast<size_t>(count - sumBytes);
    if (static_cast<size_t>(image_.fill) + dataBytes > MemoryImage::kCapacity ||
        static_cast<size_t>(image_.fill) + static_cast<size_t>(count) + 1 > image_.bytes.size()) {
      state.downloading = false;
      state.failed = true;
      logger_.host().Tell("Retrieve Data",
                          Format("Download error.\nThe logger holds more data than can be "
                                 "retrieved; the first %d bytes are kept.",
                                 image_.fill),
                          BoxIcon::Warning);
      return false;
    }
    uint8_t* at = image_.bytes.data() + image_.fill;
    const std::string request =
        Format("I%02x%02x%02x%02x%02x%02x%02x%02x", end & 0xFF, (end >> 8) & 0xFF,
               (end >> 16) & 0xFF, (end >> 24) & 0xFF, next & 0xFF, (next >> 8) & 0xFF,
               (next >> 16) & 0xFF, (next >> 24) & 0xFF);
    SerialLink& link = logger_.link();
    bool ok = false;
    for (int attempt = 0; attempt < 10 && !ok; ++attempt) {
      if (attempt >= 1) {
        clock_.SleepMs(300);
        link.LinkRead(at, count);  // late bytes of the last attempt
        ++state.blocksRetransmitted;
        if (attempt == 5 && link.currentBaudRate != 19200) {
          SwitchRate(19200);
          if (state.blockSize != 480) state.progressStep *= 480.0 / state.blockSize;
          state.blockSize = 480;
        }
      }
      ++state.blocksRequested;
      link.LinkWriteText(request);
      received = link.LinkRead(at, count);
      bool sumOk = true;
      if (VerifiesChecksum() && !noSum)
        sumOk = received == count && ByteSum(at, static_cast<size_t>(count - 1)) == at[count - 1];
      ok = received >= count && sumOk;
    }
    if (!ok) {
      state.downloading = false;
      state.failed = true;
      logger_.host().Tell("Retrieve Data",
                          Format("Download error.\n%d blocks requested, %d blocks retransmitted.",
                                 state.blocksRequested, state.blocksRetransmitted),
                          BoxIcon::Warning);
      return false;
    }
  }
  image_.fill += std::max(0, received - sumBytes);
  image_.nextAddress = end;
  state.progress += static_cast<float>(state.progressStep);
  logger_.host().SetProgress(std::min(100, static_cast<int>(state.progress)), 100);
  UpdateRemaining(end);
  if (end >= image_.endAddress) {
    state.downloading = false;
    return false;
  }
  return true;
}

void Transfer::FinishTransfer() {
  SerialLink& link = logger_.link();
  if (logger_.state.expressDownloadRate >= 1 && !link.radioDelay.enabled &&
      link.currentBaudRate != state.savedBaudRate) {
    SwitchRate(state.savedBaudRate);
    if (!logger_.state.connected) {
      WaitOutLostLink();
      link.currentBaudRate = state.savedBaudRate;
      logger_.ConnectLogger();
    }
  }
  state.downloading = false;
  image_.sampleWords = image_.fill / 3;
}

}  // namespace klx
