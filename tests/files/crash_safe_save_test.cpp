// Saves killed halfway: a child saves the same file over and over, alternating two versions, and
// is killed (SIGKILL) after a random delay. Whatever moment the kill hits, the file is one of the
// two versions, whole and readable, and the next save goes through and leaves no temporary file.
// KLX_CRASH_KILLS sets the kills per file kind (default 24; `KLX_CRASH_KILLS=300` by hand).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <random>

#include "files/dat_file.h"
#include "files/mat_file.h"
#include "files_fixture.h"
#include "shell/settings.h"

namespace klx::test {
namespace {

int Temporaries(const std::filesystem::path& folder) {
  int n = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
    n += e.path().filename().string().find(".tmp") != std::string::npos;
  return n;
}

class YesHost : public RecordingHost {
 public:
  Answer Ask(const std::string&, const std::string&, Buttons, BoxIcon, Answer) override {
    return Answer::Yes;
  }
  std::optional<std::string> ChooseFile(const FileChoice&) override { return file; }
  std::string file;
};

struct Kind {
  const char* name;
  std::function<bool(int)> save;   // saves version 0 or 1
  std::function<bool()> readable;  // the file on disk is one of the two versions, whole
};

class CrashSafeSave : public FilesTest {
 protected:
  HeldData versions_[2] = {MakeHeld("VS-330", 3.5f, "TCP", 1500, 132),
                           MakeHeld("VS-330", 3.5f, "TCP", 2100, 132)};

  static bool EitherRowCount(int n) { return n == 1500 || n == 2100; }

  std::vector<Kind> Kinds() {
    const auto dat = Dir() / "dat" / "040211.dat", mat = Dir() / "040211.mat";
    auto hex = std::make_shared<std::filesystem::path>();
    auto settings = std::make_shared<std::vector<Settings>>(2, Settings(Dir()));
    (*settings)[0].port = 3;  // neither version is the defaults an empty file would give
    (*settings)[1].port = 7;
    (*settings)[1].allowMultipleCopies = true;
    return {
        {"hex and dat",
         [=, this](int v) {
           YesHost host;
           host.file = dat.string();
           SaveRequest request = Save(DatLayout::A);
           versions_[v].image.unsaved = true;  // a fresh retrieval: the hex file goes too
           const bool saved = SaveDataToFile(host, request, versions_[v], false);
           *hex = request.chosenHex;
           return saved;
         },
         [=, this] {
           HeldData image, rows;
           RecordingHost host;
           auto hexRead = ReadRequest(*hex), datRead = ReadRequest(dat);
           return ReadHexFile(host, hexRead, image) && ReadDatFile(host, datRead, rows) &&
                  (image.image.bytes == versions_[0].image.bytes ||
                   image.image.bytes == versions_[1].image.bytes) &&
                  EitherRowCount(rows.data.samplesPerChannel);
         }},
        {"MAT", [=, this](int v) { return WriteMatFile(mat, versions_[v], {}).empty(); },
         [=] {
           HeldData read;
           int format = 0;
           std::vector<std::vector<float>> surface;
           return ReadMatFileInto(mat, read, format, surface).empty() &&
                  EitherRowCount(read.data.samplesPerChannel);
         }},
        {"settings", [=](int v) { return (*settings)[v].WriteSettings(); },
         [=, this] {
           Settings read(Dir());
           const std::string text = read.ReadSettings() == Settings::Origin::Read
                                        ? read.SettingsText()
                                        : std::string();
           return text == (*settings)[0].SettingsText() || text == (*settings)[1].SettingsText();
         }},
    };
  }
};

TEST_F(CrashSafeSave, EveryKindKeepsAWholeFile) {
  const char* env = std::getenv("KLX_CRASH_KILLS");
  const int kills = env != nullptr && std::atoi(env) > 0 ? std::atoi(env) : 24;
  int hits = 0;
  for (const Kind& kind : Kinds()) {
    SCOPED_TRACE(kind.name);
    std::mt19937 random(20240607);
    std::uniform_int_distribution<int> delayUs(500, 30000);
    ASSERT_TRUE(kind.save(0));
    for (int k = 0; k < kills && !HasFailure(); ++k) {
      const pid_t child = ::fork();
      ASSERT_GE(child, 0) << "fork failed";
      if (child == 0)
        for (int v = 1;; v ^= 1) kind.save(v);
      ::usleep(static_cast<useconds_t>(delayUs(random)));
      ::kill(child, SIGKILL);
      int status = 0;
      ::waitpid(child, &status, 0);
      EXPECT_TRUE(WIFSIGNALED(status)) << "the saving child ended on its own";
      hits += Temporaries(Dir()) > 0;
      EXPECT_TRUE(kind.readable()) << "after kill " << k;
    }
    EXPECT_TRUE(kind.save(0)) << "the save after the kills";
    EXPECT_TRUE(kind.readable());
    EXPECT_EQ(Temporaries(Dir()), 0) << "temporary files left beside the saved ones";
  }
  EXPECT_GT(hits, 0) << "no kill fell inside a save: the test proves nothing";
}

}  // namespace
}  // namespace klx::test
