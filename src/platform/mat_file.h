#pragma once
// The MAT-file and mx-array calls the MAT writer and reader use, over matio. The names follow the
// MATLAB library calls; the types are RAII holders, so that an array or a file can never be
// leaked on an early return. Files are written in the MAT version 5 layout without compression
// (what MATLAB's "wL" mode gives), which MATLAB, Octave and SciPy all read.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct matvar_t;
struct _mat_t;

namespace klx::mat {

// The classes the program writes and checks (MATLAB's mxClassID subset).
enum class ClassId {
  kUnknown,
  kChar,
  kDouble,
  kSingle,
  kInt8,
  kUInt8,
  kInt16,
  kUInt16,
  kInt32,
  kUInt32,
  kInt64,
  kUInt64,
  kCell,
  kStruct,
};

// An mxArray: one variable, owned. A default-constructed (or destroyed) array is null.
class Array {
 public:
  Array() = default;
  explicit Array(matvar_t* var) : var_(var) {}
  Array(Array&& other) noexcept : var_(other.var_) { other.var_ = nullptr; }
  Array& operator=(Array&& other) noexcept;
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;
  ~Array();

  explicit operator bool() const { return var_ != nullptr; }
  matvar_t* Get() const { return var_; }

 private:
  matvar_t* var_ = nullptr;
};

// An open MAT file. Closing happens at the latest when the holder goes.
class File {
 public:
  File() = default;
  explicit File(_mat_t* mat) : mat_(mat) {}
  File(File&& other) noexcept : mat_(other.mat_) { other.mat_ = nullptr; }
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  explicit operator bool() const { return mat_ != nullptr; }
  _mat_t* Get() const { return mat_; }
  _mat_t* Release() {
    _mat_t* m = mat_;
    mat_ = nullptr;
    return m;
  }

 private:
  _mat_t* mat_ = nullptr;
};

// Opens a MAT file: mode "r" reads, "w" or "wL" creates (replacing a file of that name).
// A null holder when the file cannot be opened or is not a MAT file.
File matOpen(const std::string& name, const char* mode);
// Closes the file; 0 on success. The holder is null afterwards.
int matClose(File& file);
// Writes one variable; 0 on success.
int matPutVariable(File& file, const char* name, const Array& array);
// The names of the variables in the file, in file order; empty for an unreadable file.
std::vector<std::string> matGetDir(File& file);
// Reads one variable with its data; null when absent or unreadable.
Array matGetVariable(File& file, const char* name);

// A 1 × n char row. Null on failure.
Array mxCreateString(std::string_view text);
// An m × (longest) char matrix of m strings, the shorter padded with blanks. Null on failure.
Array mxCreateCharMatrixFromStrings(const std::vector<std::string>& strings);
// A rows × columns real numeric array of a numeric class, zero-filled. Null on failure (a class
// that is not numeric, or no memory).
Array mxCreateNumericArray(size_t rows, size_t columns, ClassId classId);
// An m × n char matrix, blank-filled, to be filled through mxGetData (one byte per character,
// column-major). Null on failure.
Array mxCreateCharArray(size_t rows, size_t columns);

ClassId mxGetClassID(const Array& array);
// The data, column-major; null for an empty or null array. mxGetPr is for double arrays only.
double* mxGetPr(const Array& array);
void* mxGetData(const Array& array);
// The first two dimensions ({0, 0} for a null array); the rest of a higher-rank array is folded
// into the second.
std::array<size_t, 2> mxGetDimensions(const Array& array);
size_t mxGetNumberOfElements(const Array& array);
// The characters of a char array in column-major order into `buffer` of `size` bytes, ended by a
// NUL. Characters above 255 become '?'. 0 when everything fitted, 1 otherwise (the text is then
// cut), as MATLAB's call answers.
int mxGetString(const Array& array, char* buffer, size_t size);
// All characters of a char array, column-major; empty for any other class.
std::string mxGetChars(const Array& array);

void mxDestroyArray(Array& array);
// Frees memory the calls above handed out with malloc (none of them do; kept for symmetry with
// the library the callers were written against).
void mxFree(void* memory);

}  // namespace klx::mat
