// The connection controller: networks, change phases, failures, the companion library, Wi-Fi, the dialer.
#include "transport/ras_controller.h"

#include <dlfcn.h>

#include <thread>

#include "accounts/device_setup.h"
#include "frame/registry_value.h"
#include "platform/debug.h"
#include "platform/env.h"
#include "platform/event.h"
#include "tests/accounts/accounts_fixture.h"
#include "tests/transport/transport_fixture.h"

namespace oxm {
namespace {

struct Phases : OxRASController::NotifyRas {
  bool notify(unsigned kind, long a, long b) override {
    seen.push_back(std::to_string(kind) + ":" + std::to_string(a) + ":" + std::to_string(b));
    return true;
  }
  std::vector<std::string> seen;
};

// The companion library loaded by its path: the library's load by bare name then finds this
// copy (its soname), and its record of calls ("0" taken, "1" given back) outlives that load.
struct Companion {
  Companion() { reinterpret_cast<void (*)()>(dlsym(lib, "OxmTestDynReset"))(); }
  ~Companion() { dlclose(lib); }
  std::string calls() { return reinterpret_cast<const char* (*)()>(dlsym(lib, "OxmTestDynCalls"))(); }
  void* lib = dlopen(OXM_DYNCALL_PATH, RTLD_NOW);
};

const GUID kHome = {0x436EF144, 0xB4FB, 0x4863, {0xA0, 0x41, 0x8F, 0x90, 0x5A, 0x62, 0xC5, 0x72}};
const GUID kWork = {0xADB0B001, 0x10B5, 0x3F39, {0x27, 0xC6, 0x9D, 0x97, 0x3D, 0xC2, 0x8F, 0xAB}};
bool sameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class RasTest : public test::AccountsTest {
 protected:
  std::unique_ptr<OxAccountInfoInterface> account(const std::wstring& name, const GUID& guid,
                                                  const std::wstring& sender = L"me@example.com") {
    auto a = create(name);
    EXPECT_NE(a, nullptr);
    OxAccountInfoInterface::Attributes attrs;
    attrs.mask = (1ull << 1) | (1ull << 17);
    attrs.strSenderAddress = sender;
    attrs.guidNetworkSetting = guid;
    EXPECT_TRUE(a->SetAccountInfoAttributes(attrs));
    return a;
  }
  test::ShortSteps steps_;
};

TEST_F(RasTest, AnotherNetworkReconnectsWithThePhases) {
  Companion companion;
  auto home = account(L"home", kHome);
  auto work = account(L"work", kWork);
  OxRASController ras;
  Phases phases;
  ASSERT_TRUE(ras.RegisterNotifyRas(&phases));
  long status = 99;
  void* first = ras.EstablishConnection(&status, home.get());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(sameGuid(connmgr::lastDestination(), kHome));
  // The same network again: the same connection, no phases.
  EXPECT_EQ(ras.EstablishConnection(&status, home.get()), first);
  EXPECT_EQ(connmgr::establishCalls(), 1);
  EXPECT_TRUE(phases.seen.empty());
  void* second = ras.EstablishConnection(&status, work.get());
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  EXPECT_EQ(phases.seen, (std::vector<std::string>{"0:2:0", "0:1:0", "0:3:0"}));
  EXPECT_TRUE(sameGuid(connmgr::lastDestination(), kWork));
  EXPECT_EQ(connmgr::openConnections(), 1);
  EXPECT_EQ(ras.connection(), second);
  status = 99;
  EXPECT_TRUE(ras.ReleaseConnection(&status));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(connmgr::openConnections(), 0);
  EXPECT_TRUE(ras.ReleaseConnection(&status));
  EXPECT_EQ(companion.calls(), "001");
}

TEST_F(RasTest, FailuresGiveTheirStatusAndNoConnection) {
  Companion companion;
  auto home = account(L"home", kHome);
  const struct {
    char what;  // e: the establish fails, s: the status is forced, q: the query fails
    DWORD status;
    long want;
  } cases[] = {{'e', 0x00, -1}, {'e', 0x21, -2}, {'e', 0x23, -3}, {'e', 0x24, -4},
               {'e', 0x22, -5}, {'s', 0x21, -2}, {'s', 0x20, -5}, {'q', 0, -7}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(1, c.what) + " " + std::to_string(c.status));
    connmgr::reset();
    if (c.what == 'e') connmgr::failEstablish(c.status);
    if (c.what == 's') connmgr::forceStatus(c.status);
    if (c.what == 'q') connmgr::failQueries(1);
    OxRASController ras;
    long status = 0;
    EXPECT_EQ(ras.EstablishConnection(&status, home.get()), nullptr);
    EXPECT_EQ(status, c.want);
    EXPECT_EQ(connmgr::openConnections(), 0);
  }
  EXPECT_EQ(companion.calls(), "0101010101010101");
  // An account that cannot be read.
  long status = 0;
  EXPECT_EQ(OxRASController().EstablishConnection(&status, nullptr), nullptr);
  EXPECT_EQ(status, -5);
}

// The feed account leaves the companion alone but for the first call; the destructor releases.
TEST_F(RasTest, FeedAccountLeavesTheCompanionAlone) {
  Companion companion;
  auto feed = account(L"feed", kHome, kFeedSenderAddress);
  {
    OxRASController ras(feed.get());
    long status = 0;
    EXPECT_TRUE(ras.EstablishConnection(&status));
    EXPECT_NE(ras.EstablishConnection(&status, feed.get()), nullptr);
    connmgr::failEstablish(0x21);
    ras.ReleaseConnection(&status);
    EXPECT_EQ(ras.EstablishConnection(&status, feed.get()), nullptr);
    EXPECT_EQ(status, -2);
    connmgr::reset();
    ASSERT_TRUE(ras.EstablishConnection(&status));
    EXPECT_EQ(connmgr::openConnections(), 1);
  }
  EXPECT_EQ(connmgr::openConnections(), 0);
  EXPECT_EQ(companion.calls(), "0");
}

// A failed connect while Wi-Fi comes up waits (300 polls at most): connected, once more; else none.
TEST_F(RasTest, WifiWaitFollowsTheRegistryValue) {
  auto home = account(L"home", kHome);
  auto setWifi = [](DWORD value) {
    ASSERT_TRUE(SetRegistryDword(HKEY_LOCAL_MACHINE, L"System\\State\\Hardware", L"Wifi", value));
  };
  const struct {
    DWORD before;  // "Wifi" when the connect fails
    DWORD after;   // written by another thread during the wait; 0: not changed
    long establishes, status;
    size_t reads;  // of the state; 0: not counted
  } cases[] = {{0x0A, 0, 1, -2, 1},  // bit 0 clear: off, no wait
               {0x0B, 0x13, 2, 0, 0},
               {0x0B, 0x0A, 1, -2, 0},
               {0x0B, 0, 1, -2, 301}};  // the first read and 300 polls
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.before) + " then " + std::to_string(c.after));
    connmgr::reset();
    setWifi(c.before);
    connmgr::failEstablish(0x21);
    // Room for the other thread's write: 300 polls of 10 ms while it waits for a change.
    setStepScale(c.after ? 0.01 : 0.001);
    debugCaptureStart();
    std::thread change;
    if (c.after) {
      change = std::thread([&] {
        while (debugCaptured().find(L"[WIFI]") == std::wstring::npos) std::this_thread::yield();
        setWifi(c.after);
      });
    }
    OxRASController ras;
    long status = 0;
    void* handle = ras.EstablishConnection(&status, home.get());
    if (change.joinable()) change.join();
    std::wstring lines = debugCaptured();
    debugCaptureStop();
    EXPECT_EQ(connmgr::establishCalls(), c.establishes);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(handle != nullptr, c.status == 0);
    EXPECT_NE(lines.find(L"[WIFI]wifi status :[0x"), std::wstring::npos);
    size_t reads = 0;
    for (size_t at = lines.find(L"[WIFI]"); at != std::wstring::npos; at = lines.find(L"[WIFI]", at + 1)) ++reads;
    if (c.reads) { EXPECT_EQ(reads, c.reads); }
  }
}

TEST_F(RasTest, DialingWritesTheDialerValuesAndSetsItsEvent) {
  HANDLE event = CreateEventW(false, false, L"tmcprog_telto");
  ASSERT_NE(event, nullptr);
  const std::pair<int, std::wstring> cases[] = {
      {0, L"tel:0312345678"}, {4, L"tel:B1840312345678"}, {5, L"tel:B1860312345678"}, {6, L"tel:"}, {-1, L"tel:"}};
  for (const auto& [kind, want] : cases) {
    SCOPED_TRACE(kind);
    EXPECT_EQ(ExecDialing(kind, L"0312345678"), 0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    std::wstring cmd, opt;
    EXPECT_TRUE(GetRegistryValue(HKEY_CURRENT_USER, L"Software\\TAMARIN\\TmPhoneLib", L"tmcprog_cmd", &cmd));
    EXPECT_TRUE(GetRegistryValue(HKEY_CURRENT_USER, L"Software\\TAMARIN\\TmPhoneLib", L"tmcprog_opt", &opt));
    EXPECT_EQ(cmd + L" " + opt, L"-url " + want);
  }
  CloseHandle(event);
  // A registry that cannot be written: the hive's folder is a file.
  test::TempRoot broken;
  test::writeHostFile(broken.host("Registry"), "");
  setRootDirectory(broken.path());
  EXPECT_EQ(ExecDialing(0, L"110"), -1);
  setRootDirectory(root_.path());
}

}  // namespace
}  // namespace oxm
