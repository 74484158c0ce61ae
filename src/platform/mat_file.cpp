#include "platform/mat_file.h"

#include <matio.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>

namespace klx::mat {

namespace {

// The largest variable read: 8 bytes per element of the largest data set many times over.
constexpr size_t kMaxVariableBytes = size_t{1} << 32;

// matio reports its troubles through a log function that prints to stderr; the callers report
// failures themselves, so the library's own messages are dropped.
void QuietLog(int, char*) {}

void SilenceLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { Mat_LogInitFunc("klx", QuietLog); });
}

struct ClassInfo {
  ClassId id;
  matio_classes cls;
  matio_types type;
  size_t size;
};

constexpr ClassInfo kNumericClasses[] = {
    {ClassId::kDouble, MAT_C_DOUBLE, MAT_T_DOUBLE, 8},
    {ClassId::kSingle, MAT_C_SINGLE, MAT_T_SINGLE, 4},
    {ClassId::kInt8, MAT_C_INT8, MAT_T_INT8, 1},
    {ClassId::kUInt8, MAT_C_UINT8, MAT_T_UINT8, 1},
    {ClassId::kInt16, MAT_C_INT16, MAT_T_INT16, 2},
    {ClassId::kUInt16, MAT_C_UINT16, MAT_T_UINT16, 2},
    {ClassId::kInt32, MAT_C_INT32, MAT_T_INT32, 4},
    {ClassId::kUInt32, MAT_C_UINT32, MAT_T_UINT32, 4},
    {ClassId::kInt64, MAT_C_INT64, MAT_T_INT64, 8},
    {ClassId::kUInt64, MAT_C_UINT64, MAT_T_UINT64, 8},
};

// A 2-D array of the class with freshly allocated, zeroed data that matio frees with the
// variable. Null when the size overflows or memory is short.
Array Create2D(matio_classes cls, matio_types type, size_t elementSize, size_t rows,
               size_t columns) {
  if (columns != 0 && rows > std::numeric_limits<size_t>::max() / columns) return {};
  const size_t elements = rows * columns;
  if (elements > std::numeric_limits<size_t>::max() / elementSize) return {};
  size_t dims[2] = {rows, columns};
  matvar_t* var = Mat_VarCreate(nullptr, cls, type, 2, dims, nullptr, 0);
  if (var == nullptr) return {};
  Array array(var);
  if (elements > 0) {
    void* data = std::calloc(elements, elementSize);
    if (data == nullptr) return {};
    var->data = data;
    var->nbytes = elements * elementSize;
    var->mem_conserve = 0;
  }
  return array;
}

// The tagged sub-elements of an array element from `pos` up to `end`: array flags (8 bytes of
// miUINT32, the class in the low byte), dimensions (miINT32, at least two, none negative), the
// name (miINT8), then the data; the fields and cells of a struct or cell array are array elements
// again, and an empty one has no sub-elements at all. Each must fit inside its parent, and a
// small element (a tag whose upper half is its byte count) holds at most four bytes. A cell or
// struct array must have room for a tag per cell (per field of each element), since the library
// allocates the table of them up front. Otherwise the library allocates what a damaged tag claims
// (a name or a cell table of gigabytes) before it finds the bytes missing.
template <class U32>
bool SubelementsFit(std::FILE* f, uintmax_t pos, uintmax_t end, const U32& u32, int depth) {
  constexpr uint32_t kInt8 = 1, kInt32 = 5, kUInt32 = 6, kMatrix = 14;
  constexpr uint32_t kCellClass = 1, kStructClass = 2;
  constexpr uintmax_t kMaxDimensionBytes = 32 * 4;
  if (depth > 16) return false;
  const uintmax_t room = end - pos;
  uint8_t tag[8];
  uint8_t value[kMaxDimensionBytes];
  uint32_t arrayClass = 0;
  uintmax_t cells = 1;  // the product of the dimensions
  uint32_t fieldNameLength = 0;
  int index = 0;
  for (; pos + 8 <= end; ++index) {
    if (std::fseek(f, static_cast<long>(pos), SEEK_SET) != 0 || std::fread(tag, 1, 8, f) != 8)
      return false;
    const uint32_t word = u32(tag);
    const bool small = (word >> 16) != 0;
    const uint32_t type = small ? word & 0xFFFF : word;
    const uintmax_t length = small ? word >> 16 : u32(tag + 4);
    if (small ? length > 4 : pos + 8 + length > end) return false;
    if ((index == 0 && (small || type != kUInt32 || length != 8)) ||
        (index == 1 && (small || type != kInt32 || length < 8 || length % 4 != 0 ||
                        length > kMaxDimensionBytes)) ||
        (index == 2 && type != kInt8))
      return false;
    if (index <= 1 && std::fread(value, 1, length, f) != length) return false;
    if (index == 0) arrayClass = u32(value) & 0xFF;
    for (uintmax_t at = 0; index == 1 && at < length; at += 4) {
      const auto dimension = static_cast<int32_t>(u32(value + at));
      if (dimension < 0) return false;
      if (dimension != 0 && cells > room / static_cast<uintmax_t>(dimension)) {
        if (arrayClass == kCellClass || arrayClass == kStructClass) return false;
        cells = room;  // a numeric array's data are checked against the file when read
      } else {
        cells *= static_cast<uintmax_t>(dimension);
      }
    }
    if (index == 2 && arrayClass == kCellClass && cells > room / 8) return false;
    if (index == 3 && arrayClass == kStructClass) {
      if (!small || length != 4 || (fieldNameLength = u32(tag + 4)) == 0) return false;
    }
    if (index == 4 && arrayClass == kStructClass) {
      const uintmax_t fields = (small ? length : u32(tag + 4)) / fieldNameLength;
      if (fields != 0 && cells > room / 8 / fields) return false;
    }
    if (!small && type == kMatrix && !SubelementsFit(f, pos + 8, pos + 8 + length, u32, depth + 1))
      return false;
    pos += small ? 8 : 8 + (length + 7) / 8 * 8;
  }
  return index == 0 || index >= 3;
}

// A version 4 file is a chain of variables, each a header of five 32-bit numbers (type "MOPT",
// rows, columns, imaginary flag, name length) followed by the name and the data; the machine
// digit M tells the byte order (0 little-endian, 1 big-endian). Every variable must end inside
// the file, or the library allocates the size its header claims.
bool Version4ChainIsWhole(std::FILE* f, uintmax_t size) {
  constexpr uintmax_t kElementBytes[6] = {8, 4, 4, 2, 2, 1};  // by the precision digit P
  uintmax_t pos = 0;
  uint8_t h[20];
  while (pos < size) {
    if (pos + 20 > size || std::fseek(f, static_cast<long>(pos), SEEK_SET) != 0 ||
        std::fread(h, 1, 20, f) != 20)
      return false;
    uint32_t v[5] = {};
    bool known = false;
    for (const bool bigEndian : {false, true}) {
      for (int i = 0; i < 5; ++i) {
        const uint8_t* p = h + 4 * i;
        v[i] = bigEndian ? uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]
                         : uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
      }
      if (v[0] / 1000 == (bigEndian ? 1u : 0u)) {
        known = true;
        break;
      }
    }
    const uint32_t o = v[0] / 100 % 10, p = v[0] / 10 % 10, t = v[0] % 10;
    if (!known || o != 0 || p > 5 || t > 2 || v[1] > INT32_MAX || v[2] > INT32_MAX ||
        v[4] > INT32_MAX)
      return false;
    const uintmax_t left = size - pos - 20;
    uintmax_t bytes = kElementBytes[p] * (v[3] != 0 ? 2 : 1);
    for (const uintmax_t n : {uintmax_t{v[1]}, uintmax_t{v[2]}}) {
      if (n != 0 && bytes > left / n) return false;
      bytes *= n;
    }
    if (v[4] > left || bytes > left - v[4]) return false;
    pos += 20 + v[4] + bytes;
  }
  return true;
}

// A version 5 file is a 128-byte header and a chain of tagged elements (type, byte count); a file
// whose chain runs past its end was cut short, and its last variable would be read with bytes
// that are not there. A file without the version 5 header is taken as version 4 unless it is a
// version 7.3 (HDF5) file, which is left to the library.
bool ElementChainIsWhole(const std::string& name) {
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(name, ec);
  if (ec) return false;
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (f == nullptr) return false;
  uint8_t header[128] = {};
  bool whole = true;
  const bool headed = size >= 128 && std::fread(header, 1, 128, f) == 128;
  const bool little = headed && header[126] == 'I' && header[127] == 'M';
  const bool big = headed && header[126] == 'M' && header[127] == 'I';
  if (!little && !big) {
    whole = Version4ChainIsWhole(f, size);
  } else {
    auto u32 = [&](const uint8_t* p) {
      return little ? static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | uint32_t{p[3]} << 24
                    : static_cast<uint32_t>(p[3] | p[2] << 8 | p[1] << 16) | uint32_t{p[0]} << 24;
    };
    const auto version = static_cast<uint16_t>(little ? header[124] | header[125] << 8
                                                      : header[125] | header[124] << 8);
    constexpr uint32_t kMatrix = 14;
    uintmax_t pos = 128;
    uint8_t tag[8];
    while ((little || big) && version == 0x0100 && pos + 8 <= size) {
      if (std::fseek(f, static_cast<long>(pos), SEEK_SET) != 0 || std::fread(tag, 1, 8, f) != 8) {
        whole = false;
        break;
      }
      const uintmax_t length = u32(tag + 4);
      if (pos + 8 + length > size) {
        whole = false;
        break;
      }
      // A variable has at least its flags, dimensions and name: an empty top-level matrix makes
      // the library read the next element as this one's parts.
      if (u32(tag) == kMatrix &&
          (length == 0 || !SubelementsFit(f, pos + 8, pos + 8 + length, u32, 0))) {
        whole = false;
        break;
      }
      pos += 8 + (u32(tag) == kMatrix ? (length + 7) / 8 * 8 : length);
    }
  }
  std::fclose(f);
  return whole;
}

}  // namespace

Array& Array::operator=(Array&& other) noexcept {
  if (this != &other) {
    if (var_ != nullptr) Mat_VarFree(var_);
    var_ = other.var_;
    other.var_ = nullptr;
  }
  return *this;
}

Array::~Array() {
  if (var_ != nullptr) Mat_VarFree(var_);
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (mat_ != nullptr) Mat_Close(mat_);
    mat_ = other.mat_;
    other.mat_ = nullptr;
  }
  return *this;
}

File::~File() {
  if (mat_ != nullptr) Mat_Close(mat_);
}

File matOpen(const std::string& name, const char* mode) {
  SilenceLibrary();
  if (mode == nullptr || name.empty()) return {};
  if (mode[0] == 'w') return File(Mat_CreateVer(name.c_str(), nullptr, MAT_FT_MAT5));
  if (mode[0] == 'r') {
    if (!ElementChainIsWhole(name)) return {};
    return File(Mat_Open(name.c_str(), MAT_ACC_RDONLY));
  }
  return {};
}

int matClose(File& file) {
  _mat_t* m = file.Release();
  if (m == nullptr) return -1;
  return Mat_Close(m) == 0 ? 0 : -1;
}

int matPutVariable(File& file, const char* name, const Array& array) {
  if (!file || !array || name == nullptr) return -1;
  matvar_t* var = array.Get();
  // The name belongs to the array from here on (matio frees it with the variable).
  char* copy = static_cast<char*>(std::malloc(std::strlen(name) + 1));
  if (copy == nullptr) return -1;
  std::strcpy(copy, name);
  std::free(var->name);
  var->name = copy;
  return Mat_VarWrite(file.Get(), var, MAT_COMPRESSION_NONE) == 0 ? 0 : -1;
}

std::vector<std::string> matGetDir(File& file) {
  std::vector<std::string> names;
  if (!file) return names;
  size_t n = 0;
  char** dir = Mat_GetDir(file.Get(), &n);
  // The directory belongs to the file handle; matio frees it on close.
  if (dir == nullptr) return names;
  for (size_t i = 0; i < n; ++i)
    if (dir[i] != nullptr) names.emplace_back(dir[i]);
  Mat_Rewind(file.Get());
  return names;
}

Array matGetVariable(File& file, const char* name) {
  if (!file || name == nullptr) return {};
  // A damaged file may claim dimensions far beyond its size; such a variable is refused before
  // its data are read (an uncompressed variable cannot hold more bytes than the file).
  {
    Array info(Mat_VarReadInfo(file.Get(), name));
    if (!info) return {};
    const matvar_t* var = info.Get();
    if (var->rank < 0 || var->rank > 8 || (var->rank > 0 && var->dims == nullptr)) return {};
    size_t bytes = 8;
    for (int i = 0; i < var->rank; ++i) {
      if (var->dims[i] != 0 && bytes > kMaxVariableBytes / var->dims[i]) return {};
      bytes *= var->dims[i];
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(Mat_GetFilename(file.Get()), ec);
    if (ec) return {};
    if (var->compression == MAT_COMPRESSION_NONE && bytes / 8 > size) return {};
  }
  Array array(Mat_VarRead(file.Get(), name));
  if (!array) return {};
  const matvar_t* var = array.Get();
  // A variable whose data did not come with it (an unsupported layout, or a data block shorter
  // than its dimensions) is as good as absent.
  const size_t elements = mxGetNumberOfElements(array);
  if (elements > 0 && var->class_type != MAT_C_CELL && var->class_type != MAT_C_STRUCT) {
    if (var->data == nullptr || var->data_size <= 0 || var->isComplex) return {};
    if (var->nbytes / static_cast<size_t>(var->data_size) < elements) return {};
  }
  return array;
}

Array mxCreateString(std::string_view text) {
  Array array = mxCreateCharArray(1, text.size());
  if (array && !text.empty()) std::memcpy(array.Get()->data, text.data(), text.size());
  return array;
}

Array mxCreateCharMatrixFromStrings(const std::vector<std::string>& strings) {
  size_t longest = 0;
  for (const auto& s : strings) longest = s.size() > longest ? s.size() : longest;
  Array array = mxCreateCharArray(strings.size(), longest);
  if (!array) return array;
  auto* data = static_cast<char*>(array.Get()->data);
  const size_t rows = strings.size();
  for (size_t r = 0; r < rows; ++r)
    for (size_t c = 0; c < strings[r].size(); ++c) data[c * rows + r] = strings[r][c];
  return array;
}

Array mxCreateCharArray(size_t rows, size_t columns) {
  Array array = Create2D(MAT_C_CHAR, MAT_T_UINT8, 1, rows, columns);
  if (array && array.Get()->data != nullptr) std::memset(array.Get()->data, ' ', rows * columns);
  return array;
}

Array mxCreateNumericArray(size_t rows, size_t columns, ClassId classId) {
  for (const auto& c : kNumericClasses)
    if (c.id == classId) return Create2D(c.cls, c.type, c.size, rows, columns);
  return {};
}

ClassId mxGetClassID(const Array& array) {
  if (!array) return ClassId::kUnknown;
  const matio_classes cls = array.Get()->class_type;
  if (cls == MAT_C_CHAR) return ClassId::kChar;
  if (cls == MAT_C_CELL) return ClassId::kCell;
  if (cls == MAT_C_STRUCT) return ClassId::kStruct;
  for (const auto& c : kNumericClasses)
    if (c.cls == cls) return c.id;
  return ClassId::kUnknown;
}

double* mxGetPr(const Array& array) {
  if (mxGetClassID(array) != ClassId::kDouble) return nullptr;
  return static_cast<double*>(mxGetData(array));
}

void* mxGetData(const Array& array) {
  if (!array || mxGetNumberOfElements(array) == 0) return nullptr;
  return array.Get()->data;
}

std::array<size_t, 2> mxGetDimensions(const Array& array) {
  if (!array || array.Get()->rank < 1 || array.Get()->dims == nullptr) return {0, 0};
  const matvar_t* var = array.Get();
  if (var->rank == 1) return {var->dims[0], 1};
  size_t columns = var->dims[1];
  for (int i = 2; i < var->rank; ++i) columns *= var->dims[i];
  return {var->dims[0], columns};
}

size_t mxGetNumberOfElements(const Array& array) {
  const auto d = mxGetDimensions(array);
  if (d[1] != 0 && d[0] > std::numeric_limits<size_t>::max() / d[1]) return 0;
  return d[0] * d[1];
}

std::string mxGetChars(const Array& array) {
  std::string text;
  if (mxGetClassID(array) != ClassId::kChar) return text;
  const matvar_t* var = array.Get();
  const size_t n = mxGetNumberOfElements(array);
  if (n == 0 || var->data == nullptr) return text;
  text.resize(n);
  const size_t size = var->data_size > 0 ? static_cast<size_t>(var->data_size) : 1;
  const auto* bytes = static_cast<const uint8_t*>(var->data);
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = 0;
    if (size == 1) {
      c = bytes[i];
    } else if (size == 2) {
      uint16_t v;
      std::memcpy(&v, bytes + 2 * i, 2);
      c = v;
    } else {
      uint32_t v;
      std::memcpy(&v, bytes + 4 * i, 4);
      c = v;
    }
    text[i] = c <= 255 ? static_cast<char>(c) : '?';
  }
  return text;
}

int mxGetString(const Array& array, char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return 1;
  const std::string text = mxGetChars(array);
  const size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return mxGetClassID(array) == ClassId::kChar && n == text.size() ? 0 : 1;
}

void mxDestroyArray(Array& array) {
  array = Array();
}

void mxFree(void* memory) {
  std::free(memory);
}

}  // namespace klx::mat
