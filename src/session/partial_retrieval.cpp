#include "session/partial_retrieval.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <map>

#include "records/memory_image.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx {

namespace {

constexpr const char* kMagic = "KLX partial retrieval 1\n";

uint64_t Fnv64(std::string_view text, uint64_t h = 1469598103934665603ull) {
  for (const unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string Header(const PartialRetrieval& p) {
  const SystemTime& t = p.start;
  return std::string(kMagic) +
         Format(
             "model=%s\nfirmware=%s\nserial=%d\nstart=%04u %02u %02u %02u %02u %02u\n"
             "memory_mb=%d\nlinear=%d\npointer=%u\nend=%u\nnext=%u\ncheck_address=%u\n"
             "check_fill=%d\nblocks=%d\ntotal_blocks=%d\nbytes=%zu\n",
             p.model.c_str(), p.firmware.c_str(), p.serial, t.year, t.month, t.day, t.hour,
             t.minute, t.second, p.memoryMb, p.linear ? 1 : 0, p.pointer, p.endAddress,
             p.nextAddress, p.checkAddress, p.checkFill, p.blocks, p.totalBlocks, p.bytes.size());
}

std::string_view AsText(const std::vector<uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool ParseU32(const std::string& text, uint32_t& out) {
  unsigned long long v = 0;
  int used = 0;
  if (text.empty() || text[0] == '-' || std::sscanf(text.c_str(), "%llu%n", &v, &used) != 1 ||
      used != static_cast<int>(text.size()) || v > 0xFFFFFFFFull)
    return false;
  out = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

std::filesystem::path PartialRetrievalPath(const std::string& hexDirectory, int32_t serial) {
  return std::filesystem::path(hexDirectory) / "resume" / Format("%06d.partial", serial);
}

bool WritePartialRetrieval(const std::filesystem::path& path, const PartialRetrieval& partial) {
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  const std::string header = Header(partial);
  const uint64_t sum = Fnv64(AsText(partial.bytes), Fnv64(header));
  std::string text = header + Format("sum=%016" PRIx64 "\ndata\n", sum);
  text.append(AsText(partial.bytes));
  return WriteTextFileAtomically(path, text);
}

PartialReadResult ReadPartialRetrieval(const std::filesystem::path& path,
                                       PartialRetrieval& partial) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return PartialReadResult::Missing;
  const auto size = std::filesystem::file_size(path, ec);
  // The header is a few hundred bytes; more than a whole image and a generous header is damage.
  if (ec || size > MemoryImage::kCapacity + 4096) return PartialReadResult::Damaged;
  std::ifstream in(path, std::ios::binary);
  std::string text(static_cast<size_t>(size), '\0');
  if (!in.read(text.data(), static_cast<std::streamsize>(text.size())))
    return PartialReadResult::Damaged;

  const std::string magic = kMagic;
  if (text.compare(0, magic.size(), magic) != 0) return PartialReadResult::Damaged;
  const size_t dataMark = text.find("\ndata\n");
  if (dataMark == std::string::npos || dataMark > 4096) return PartialReadResult::Damaged;
  std::map<std::string, std::string> fields;
  for (size_t at = magic.size(); at <= dataMark;) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    const size_t eq = line.find('=');
    if (eq == std::string::npos || !fields.emplace(line.substr(0, eq), line.substr(eq + 1)).second)
      return PartialReadResult::Damaged;
    at = end + 1;
  }
  const auto field = [&fields](const char* key) -> const std::string* {
    const auto it = fields.find(key);
    return it == fields.end() ? nullptr : &it->second;
  };
  PartialRetrieval p;
  uint32_t serial = 0, memoryMb = 0, linear = 0, checkFill = 0, blocks = 0, total = 0, count = 0;
  const std::pair<const char*, uint32_t*> numbers[] = {{"serial", &serial},
                                                       {"memory_mb", &memoryMb},
                                                       {"linear", &linear},
                                                       {"pointer", &p.pointer},
                                                       {"end", &p.endAddress},
                                                       {"next", &p.nextAddress},
                                                       {"check_address", &p.checkAddress},
                                                       {"check_fill", &checkFill},
                                                       {"blocks", &blocks},
                                                       {"total_blocks", &total},
                                                       {"bytes", &count}};
  for (const auto& [key, out] : numbers) {
    const std::string* v = field(key);
    if (v == nullptr || !ParseU32(*v, *out)) return PartialReadResult::Damaged;
  }
  const std::string *model = field("model"), *firmware = field("firmware"), *start = field("start"),
                    *sum = field("sum");
  if (!model || !firmware || !start || !sum) return PartialReadResult::Damaged;
  unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (std::sscanf(start->c_str(), "%u %u %u %u %u %u", &y, &mo, &d, &h, &mi, &s) != 6 || y > 9999 ||
      mo > 12 || d > 31 || h > 23 || mi > 59 || s > 60)
    return PartialReadResult::Damaged;

  const size_t dataAt = dataMark + 6;
  if (text.size() - dataAt != count || count > MemoryImage::kCapacity || checkFill > count ||
      blocks > total || linear > 1 || serial > 0x7FFFFFFF)
    return PartialReadResult::Damaged;
  p.model = *model;
  p.firmware = *firmware;
  p.serial = static_cast<int32_t>(serial);
  p.start = MakeSystemTime(static_cast<int>(y), static_cast<int>(mo), static_cast<int>(d),
                           static_cast<int>(h), static_cast<int>(mi), static_cast<int>(s));
  p.memoryMb = static_cast<int>(memoryMb);
  p.linear = linear == 1;
  p.checkFill = static_cast<int32_t>(checkFill);
  p.blocks = static_cast<int>(blocks);
  p.totalBlocks = static_cast<int>(total);
  p.bytes.assign(text.begin() + static_cast<std::ptrdiff_t>(dataAt), text.end());
  // Where the image ends must agree with the addresses: a linear memory holds every byte, an
  // older one at most the bytes from 0x20000 on; the block to fetch again lies before the end.
  const uint32_t first = p.linear ? 0 : 0x20000;
  if (p.nextAddress < first || p.checkAddress < first || p.checkAddress >= p.nextAddress ||
      p.nextAddress > p.endAddress || (p.linear && p.nextAddress != count) ||
      (p.linear && p.checkAddress != checkFill) || (!p.linear && count > p.nextAddress - first))
    return PartialReadResult::Damaged;
  const std::string header = Header(p);
  if (Format("%016" PRIx64, Fnv64(AsText(p.bytes), Fnv64(header))) != *sum)
    return PartialReadResult::Damaged;
  partial = std::move(p);
  return PartialReadResult::Ok;
}

std::string PartialMismatch(const PartialRetrieval& partial, const LoggerState& logger,
                            const SystemTime& start, uint32_t pointer, uint32_t endAddress) {
  if (partial.model != logger.model || partial.serial != logger.serial ||
      partial.firmware != CFormat("%.2f", logger.firmware))
    return "The interrupted retrieval kept for this serial number came from another logger";
  if (partial.linear != logger.extendedCommandSet || partial.memoryMb != logger.memorySizeMb)
    return "The interrupted retrieval kept for this logger has another memory layout";
  const SystemTime& p = partial.start;
  if (p.year != start.year || p.month != start.month || p.day != start.day ||
      p.hour != start.hour || p.minute != start.minute || p.second != start.second)
    return "The interrupted retrieval kept for this logger is of another deployment";
  if (pointer < partial.pointer)
    return "The logger's memory was erased or rewritten since the interrupted retrieval";
  if (endAddress <= partial.nextAddress)
    return "This retrieval ends before the point the interrupted one reached";
  return {};
}

}  // namespace klx
