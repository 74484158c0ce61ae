#pragma once
// A simulated logger behind a session with dat/ and hex/ folders in its own directory.
#include <gtest/gtest.h>

#include <regex>

#include "files/files_fixture.h"
#include "session/partial_retrieval.h"
#include "sim/sim_host.h"

namespace klx::test {

struct Rig : sim::test::SimSession<FileHost> {
  explicit Rig(const std::string& name, const std::function<void(sim::SimProfile&)>& edit = {},
               SystemTime now = SystemTime{2026, 9, 1, 2, 12, 0, 0, 0})
      : SimSession(name, edit, now) {
    session.settings.derived.depthOn = true;
    for (const char* sub : {"dat", "hex"}) std::filesystem::create_directories(dir / sub);
    session.directories.dat = (dir / "dat").string();
    session.directories.hex = (dir / "hex").string();
  }
  // Runs a retrieval and cancels it after `blocks` blocks.
  void RetrieveAndCancel(int blocks) {
    Retrieval r(session);
    ASSERT_TRUE(r.Open());
    ASSERT_TRUE(r.Begin(false));
    for (int i = 0; i < blocks; ++i) ASSERT_TRUE(r.Tick()) << "block " << i;
    r.Cancel();
  }
  // A whole retrieval; the blocks it requested.
  int RetrieveAll(bool* resumed = nullptr) {
    Retrieval r(session);
    EXPECT_TRUE(r.Open());
    EXPECT_TRUE(r.Begin(false));
    while (r.Tick()) continue;
    EXPECT_FALSE(r.transfer().state.failed);
    if (resumed) *resumed = r.Resumed();
    return r.transfer().state.blocksRequested;
  }
  // Saves the held data as dat/<name>.dat, its hex file going to hex/.
  bool SaveAs(const std::string& name) {
    host.files = {(dir / "dat" / (name + ".dat")).string()};
    return session.SaveHeld(false);
  }
  // The dat and hex files so saved, without the host and logger time lines.
  std::string Files(const std::string& name) {
    EXPECT_TRUE(SaveAs(name));
    const std::string files = ReadWholeFile(dir / "dat" / (name + ".dat")).value_or("") +
                              ReadWholeFile(dir / "hex" / (name + ".hex")).value_or("");
    return std::regex_replace(files, std::regex("(Host|Logger) time[^\n]*\n"), "");
  }
  std::filesystem::path Partial() const {
    return PartialRetrievalPath(session.directories.hex, logger->Profile().serial);
  }
};

}  // namespace klx::test
