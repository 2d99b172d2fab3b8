// A writer killed at any moment leaves the file of its last commit: fork a
// child that keeps adding messages and committing, SIGKILL it after a
// random delay, then read the file with the strict reader and pffinfo.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>

#include "mapi/pst/minimal_store.h"
#include "mapi/pst/test_pst_reader.h"
#include "mapi/pst/test_validators.h"

namespace vexl::pst {
namespace {

[[noreturn]] void writeUntilKilled(const std::string& path, Variant variant, int ready) {
  auto ndb = NdbWriter::create(path, {variant, CryptMethod::Permute, 0});
  MinimalStoreBuilder store(*ndb, "Crash");
  store.createStore();
  const Nid inbox = store.addFolder(store.ipmSubtree(), "Inbox");
  store.commit();
  const char c = 'r';
  if (::write(ready, &c, 1) != 1) ::_exit(2);
  for (int i = 0;; ++i) {
    MessageSpec m;
    m.subject = "message " + std::to_string(i);
    m.body = std::string(static_cast<std::size_t>(200 + (i * 997) % 30000), 'x');
    m.recipients = {{"Bob", "bob@example.com", 1}};
    if (i % 4 == 0) m.attachments = {{"a.bin", std::vector<std::uint8_t>(static_cast<std::size_t>(i * 131 % 40000), 7)}};
    store.addMessage(inbox, m);
    if (i % 3 == 2) store.commit();
  }
}

class CrashTest : public ::testing::TestWithParam<Variant> {};

TEST_P(CrashTest, KilledWriterLeavesTheLastCommittedFile) {
  const std::string dir = test::makeTempDir("pst-crash");
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < 6; ++round) {
    const std::string path = dir + "/crash" + std::to_string(round) + ".pst";
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(fds[0]);
      writeUntilKilled(path, GetParam(), fds[1]);
    }
    ::close(fds[1]);
    char c = 0;
    ASSERT_EQ(::read(fds[0], &c, 1), 1) << "the child did not get to its first commit";
    ::close(fds[0]);
    const unsigned delayUs = std::uniform_int_distribution<unsigned>(0, 400000)(random);
    ::usleep(delayUs);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended on its own";

    test::PstReader reader(path);
    reader.checkAllocationAndRefs(false);
    for (const auto& p : reader.problems()) ADD_FAILURE() << "after " << delayUs << " us: " << p;
    EXPECT_GE(reader.nodes().size(), 30u);
    // Each folder's contents table and counts match the messages it holds.
    std::map<Nid, std::vector<std::uint32_t>> messages;
    for (const auto& [nid, node] : reader.nodes())
      if (nidType(nid) == NidType::NormalMessage) messages[node.parent].push_back(nid);
    for (const auto& [nid, node] : reader.nodes()) {
      if (nidType(nid) != NidType::NormalFolder) continue;
      std::vector<std::string> problems;
      const auto table = test::readTc(reader, reader.nodes().at(withType(nid, NidType::ContentsTable)), problems);
      EXPECT_EQ(table.rowIds, messages[nid]) << "after " << delayUs << " us";
      const auto props = test::readPc(reader, node, problems);
      EXPECT_EQ(props.at(0x36020003), value::int32(static_cast<std::int32_t>(messages[nid].size())));
      for (const auto& p : problems) ADD_FAILURE() << p;
    }
    if (test::haveTool("pffinfo")) {
      const auto info = test::runCommand("pffinfo '" + path + "'");
      EXPECT_EQ(info.status, 0) << "after " << delayUs << " us:\n" << info.output;
    }
    std::filesystem::remove(path);
  }
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Variants, CrashTest, ::testing::Values(Variant::Unicode, Variant::Ansi),
                         [](const auto& info) { return info.param == Variant::Unicode ? "Unicode" : "Ansi"; });

}  // namespace
}  // namespace vexl::pst
